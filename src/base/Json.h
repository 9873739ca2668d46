#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/Bytes.h"
#include "base/JsonError.h"
#include "base/JsonValue.h"

namespace orvek::base {

/// Compact JSON with sorted keys and every "/" escaped; throws JsonError for values JSON
/// cannot hold (non-finite numbers, invalid UTF-8).
[[nodiscard]] Bytes json(const JsonValue& value);

/// Decodes `bytes` strictly. A NUL byte or a syntax error throws what `refuse` makes of the
/// byte offset where decoding stopped.
[[nodiscard]] JsonValue decodeJson(std::string_view bytes,
                                   const std::function<JsonError(std::size_t offset)>& refuse);

/// An object whose every value is a string, as a map; absent for anything else, so one value of
/// another type makes the whole object unusable.
[[nodiscard]] std::optional<std::map<std::string, std::string>> stringMap(const JsonValue& value);

} // namespace orvek::base
