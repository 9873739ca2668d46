#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace orvek::promo {

/// Which way a time finer than the clock's tick goes.
enum class TickRounding { up, down };

/// The instant an RFC 3339 date-time in UTC names ("2030-01-01T00:00:00Z"): the offset is "Z",
/// "+00:00" or "-00:00", "T" and "Z" may be lower case, and a fraction of any length is rounded
/// to the clock's tick as `rounding` says. Absent for anything else: any other offset, a space
/// for the "T", an impossible date, a leap second (":60"), or an instant the system clock cannot
/// hold. Never throws.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point>
parseRfc3339(std::string_view text, TickRounding rounding) noexcept;

} // namespace orvek::promo
