#include "promo/Rfc3339.h"

#include <cstdint>

namespace orvek::promo {

namespace {

using Clock = std::chrono::system_clock;

// Reads exactly `count` digits at `at` and advances past them.
std::optional<int> fixedDigits(std::string_view text, std::size_t& at, std::size_t count) {
    if (text.size() - at < count)
        return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    at += count;
    return value;
}

bool expect(std::string_view text, std::size_t& at, char lower, char upper) {
    if (at >= text.size() || (text[at] != lower && text[at] != upper))
        return false;
    ++at;
    return true;
}

// The clock's ticks in the fraction's digits, and whether any digit went beyond a tick.
struct Ticks {
    std::int64_t count = 0;
    bool inexact = false;
};

// Decimal digits of one tick of the clock: 9 where it counts nanoseconds, 6 for microseconds.
constexpr int tickDigits() {
    static_assert(Clock::period::num == 1, "the clock ticks in fractions of a second");
    int digits = 0;
    std::intmax_t power = 1;
    while (power < Clock::period::den) {
        power *= 10;
        ++digits;
    }
    return power == Clock::period::den ? digits : -1;
}

Ticks fractionTicks(std::string_view digits) {
    constexpr int kDigits = tickDigits();
    static_assert(kDigits >= 0, "the clock ticks in a power of ten per second");
    Ticks ticks;
    for (int i = 0; i < kDigits; ++i) {
        const auto index = static_cast<std::size_t>(i);
        ticks.count = ticks.count * 10 + (index < digits.size() ? digits[index] - '0' : 0);
    }
    for (auto i = static_cast<std::size_t>(kDigits); i < digits.size(); ++i)
        ticks.inexact = ticks.inexact || digits[i] != '0';
    return ticks;
}

} // namespace

std::optional<Clock::time_point> parseRfc3339(std::string_view text,
                                              TickRounding rounding) noexcept {
    std::size_t at = 0;
    const auto year = fixedDigits(text, at, 4);
    if (!year || !expect(text, at, '-', '-'))
        return std::nullopt;
    const auto month = fixedDigits(text, at, 2);
    if (!month || !expect(text, at, '-', '-'))
        return std::nullopt;
    const auto day = fixedDigits(text, at, 2);
    if (!day || !expect(text, at, 't', 'T'))
        return std::nullopt;
    const auto hour = fixedDigits(text, at, 2);
    if (!hour || !expect(text, at, ':', ':'))
        return std::nullopt;
    const auto minute = fixedDigits(text, at, 2);
    if (!minute || !expect(text, at, ':', ':'))
        return std::nullopt;
    const auto second = fixedDigits(text, at, 2);
    if (!second)
        return std::nullopt;

    std::string_view fraction;
    if (at < text.size() && text[at] == '.') {
        const auto first = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        fraction = text.substr(first, at - first);
        if (fraction.empty())
            return std::nullopt;
    }

    // Campaign dates are written in UTC. Another offset means a record edited by hand, where a
    // slip of sign or hours would move the whole campaign unnoticed.
    if (!expect(text, at, 'z', 'Z')) {
        if (at >= text.size() || (text[at] != '+' && text[at] != '-'))
            return std::nullopt;
        ++at;
        const auto offsetHour = fixedDigits(text, at, 2);
        if (!offsetHour || !expect(text, at, ':', ':'))
            return std::nullopt;
        const auto offsetMinute = fixedDigits(text, at, 2);
        if (!offsetMinute || *offsetHour != 0 || *offsetMinute != 0)
            return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;

    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    // The clock has no place for a leap second, and a campaign has no reason to end on one.
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;

    const std::chrono::sys_seconds instant =
        std::chrono::sys_days(date) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
        std::chrono::seconds(*second);
    // One second of room at either end, so that the fraction and its rounding cannot overflow.
    const auto earliest =
        std::chrono::ceil<std::chrono::seconds>(Clock::time_point::min()) + std::chrono::seconds(1);
    const auto latest = std::chrono::floor<std::chrono::seconds>(Clock::time_point::max()) -
                        std::chrono::seconds(1);
    if (instant < earliest || instant > latest)
        return std::nullopt;

    const auto ticks = fractionTicks(fraction);
    auto result =
        Clock::time_point(std::chrono::duration_cast<Clock::duration>(instant.time_since_epoch())) +
        Clock::duration(ticks.count);
    if (ticks.inexact && rounding == TickRounding::up)
        result += Clock::duration(1);
    return result;
}

} // namespace orvek::promo
