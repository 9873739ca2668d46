#include "promo/Rfc3339.h"

#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Campaign.h"

namespace orvek::promo {
namespace {

using test::Clock;
using test::utc;

struct DateRow {
    const char* text;
    Clock::time_point instant;
};

TEST(Rfc3339, ReadsUtcDateTimes) {
    using namespace std::chrono_literals;
    const DateRow rows[] = {
        {"2030-01-01T00:00:00Z", utc(2030, 1, 1)},
        {"2030-01-01t00:00:00z", utc(2030, 1, 1)},
        {"2030-07-15T12:34:56+00:00", utc(2030, 7, 15, 12, 34, 56)},
        {"2030-07-15T12:34:56-00:00", utc(2030, 7, 15, 12, 34, 56)},
        {"2028-02-29T23:59:59Z", utc(2028, 2, 29, 23, 59, 59)},
        {"2000-02-29T00:00:00Z", utc(2000, 2, 29)},
        {"1970-01-01T00:00:00Z", Clock::time_point()},
        {"2030-12-31T23:59:59.5Z", utc(2030, 12, 31, 23, 59, 59) + 500ms},
        {"2030-12-31T23:59:59.000Z", utc(2030, 12, 31, 23, 59, 59)},
        {"2030-12-31T23:59:59.000001Z", utc(2030, 12, 31, 23, 59, 59) + 1us},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        for (const auto rounding : {TickRounding::up, TickRounding::down})
            EXPECT_EQ(parseRfc3339(row.text, rounding), row.instant);
    }
}

TEST(Rfc3339, RoundsAFractionFinerThanTheClockOnlyWhereAsked) {
    // Ten digits are finer than any clock tick: the instant lies between two ticks.
    const auto second = utc(2030, 7, 15, 12);
    EXPECT_EQ(parseRfc3339("2030-07-15T12:00:00.0000000001Z", TickRounding::down), second);
    EXPECT_EQ(parseRfc3339("2030-07-15T12:00:00.0000000001Z", TickRounding::up),
              second + Clock::duration(1));
    // Zeros past the tick change nothing.
    EXPECT_EQ(parseRfc3339("2030-07-15T12:00:00.0000000000Z", TickRounding::up), second);
}

TEST(Rfc3339, RefusesOtherOffsetsAndLayouts) {
    using namespace std::string_literals;
    for (const auto& text :
         {"2030-07-15T15:00:00+03:00"s, "2030-07-15T07:00:00-05:00"s, "2030-07-15T12:30:00+00:30"s,
          "2030-07-15T12:00:00+00:01"s, "2030-07-15T12:00:00+24:00"s, "2030-07-15T12:00:00+0000"s,
          "2030-07-15T12:00:00+00"s, "2030-07-15T12:00:00"s, "2030-07-15 12:00:00Z"s,
          "2030-07-15T12:00Z"s, "2030-07-15"s, "2030-7-15T12:00:00Z"s, "30-07-15T12:00:00Z"s,
          "+2030-07-15T12:00:00Z"s, "2030-07-15T12:00:00.Z"s, "2030-07-15T12:00:00,5Z"s,
          "2030-07-15T12:00:00ZZ"s, "2030-07-15T12:00:00Z "s, " 2030-07-15T12:00:00Z"s,
          "2030-07-15T12:00:00Z\0"s, "2030-07-15T12:00:00UTC"s, ""s,
          // Impossible dates and times, and the leap second the clock cannot hold.
          "2030-13-01T00:00:00Z"s, "2030-00-01T00:00:00Z"s, "2030-01-00T00:00:00Z"s,
          "2030-02-29T00:00:00Z"s, "2030-04-31T00:00:00Z"s, "2100-02-29T00:00:00Z"s,
          "2030-01-01T24:00:00Z"s, "2030-01-01T23:60:00Z"s, "2016-12-31T23:59:60Z"s,
          "２０３０-01-01T00:00:00Z"s}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseRfc3339(text, TickRounding::down), std::nullopt);
        EXPECT_EQ(parseRfc3339(text, TickRounding::up), std::nullopt);
    }
}

struct FarRow {
    const char* text;
    std::chrono::sys_seconds second;
};

TEST(Rfc3339, RefusesInstantsTheClockCannotHoldWithoutOverflow) {
    // A clock counting nanoseconds in 64 bits spans 1677 to 2262; one counting microseconds
    // spans far more. Either way nothing wraps around.
    const auto earliest = std::chrono::ceil<std::chrono::seconds>(Clock::time_point::min());
    const auto latest = std::chrono::floor<std::chrono::seconds>(Clock::time_point::max());
    const FarRow rows[] = {
        {"9999-12-31T23:59:59.999999999999Z",
         std::chrono::sys_days(std::chrono::year(9999) / 12 / 31) + std::chrono::hours(23) +
             std::chrono::minutes(59) + std::chrono::seconds(59)},
        {"0000-01-01T00:00:00Z", std::chrono::sys_days(std::chrono::year(0) / 1 / 1)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = parseRfc3339(row.text, TickRounding::down);
        EXPECT_EQ(parsed.has_value(), earliest < row.second && row.second < latest);
        if (parsed) {
            EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(*parsed), row.second);
        }
    }
}

} // namespace
} // namespace orvek::promo
