#pragma once

#include <nlohmann/json_fwd.hpp>

namespace orvek::base {

/// A decoded JSON value; dictionaries are JSON objects. Headers that only name the type include
/// this; the code that builds or reads values includes "base/Json.h".
using JsonValue = nlohmann::json;

} // namespace orvek::base
