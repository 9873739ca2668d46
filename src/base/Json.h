#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/Bytes.h"
#include "base/JsonError.h"

namespace orvek::base {

/// A decoded JSON value; dictionaries are JSON objects.
using JsonValue = nlohmann::json;

/// Compact JSON with sorted keys and every "/" escaped; throws JsonError for values JSON
/// cannot hold (non-finite numbers, invalid UTF-8).
[[nodiscard]] Bytes json(const JsonValue& value);

/// Decodes `bytes` strictly. A NUL byte or a syntax error throws what `refuse` makes of the
/// byte offset where decoding stopped.
[[nodiscard]] JsonValue decodeJson(std::string_view bytes,
                                   const std::function<JsonError(std::size_t offset)>& refuse);

} // namespace orvek::base
