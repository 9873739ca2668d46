#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace orvek::config {

/// Half-open byte range [lowerBound, upperBound) into the bytes a reader scanned.
struct ByteRange {
    std::int64_t lowerBound = 0;
    std::int64_t upperBound = 0;

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

/// Where one value of a settings file sits: its byte range and, for objects only, its members
/// by their unescaped names. Arrays are checked but their elements are not kept.
struct ConfigNode {
    ByteRange range;
    std::optional<std::map<std::string, ConfigNode>> fields;
};

} // namespace orvek::config
