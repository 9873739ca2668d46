#include "promo/Decimal.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace orvek::promo {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The integer digits without leading zeros and the fractional digits without trailing zeros
// of a plain form, so that equal values give equal pairs.
struct Magnitude {
    std::string_view integer;
    std::string_view fraction;
};

Magnitude magnitude(std::string_view text) {
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    const auto point = text.find('.');
    auto integer = text.substr(0, point);
    auto fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    while (!integer.empty() && integer.front() == '0')
        integer.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    return {integer, fraction};
}

std::weak_ordering compareMagnitudes(const Magnitude& left, const Magnitude& right) {
    if (left.integer.size() != right.integer.size())
        return left.integer.size() <=> right.integer.size();
    if (const auto order = left.integer.compare(right.integer); order != 0)
        return order <=> 0;
    // Without trailing zeros, a fraction that is a prefix of the other is the smaller one.
    return left.fraction.compare(right.fraction) <=> 0;
}

} // namespace

std::optional<Decimal> Decimal::parse(std::string_view number) {
    std::size_t i = 0;
    const auto size = number.size();
    const auto digits = [&] {
        const auto first = i;
        while (i < size && isDigit(number[i]))
            ++i;
        return number.substr(first, i - first);
    };

    const bool negative = i < size && number[i] == '-';
    if (negative)
        ++i;
    const auto integer = digits();
    if (integer.empty() || (integer.size() > 1 && integer.front() == '0'))
        return std::nullopt;
    std::string_view fraction;
    if (i < size && number[i] == '.') {
        ++i;
        fraction = digits();
        if (fraction.empty())
            return std::nullopt;
    }
    // Saturated far beyond any exponent that could still give `kMaxDigits` digits, so that no
    // arithmetic below overflows.
    constexpr std::int64_t kExponentCap = 1'000'000'000;
    std::int64_t exponent = 0;
    if (i < size && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < size && (number[i] == '+' || number[i] == '-'))
            negativeExponent = number[i++] == '-';
        const auto written = digits();
        if (written.empty())
            return std::nullopt;
        for (const char c : written)
            exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != size)
        return std::nullopt;

    // The value is `coefficient` times ten to the minus `scale`; the plain form shows `scale`
    // fractional digits when it is positive.
    std::string coefficient(integer);
    coefficient.append(fraction);
    const auto firstNonZero = coefficient.find_first_not_of('0');
    const bool zero = firstNonZero == std::string::npos;
    const std::string_view significant =
        zero ? std::string_view() : std::string_view(coefficient).substr(firstNonZero);
    const auto count = static_cast<std::int64_t>(significant.size());
    const std::int64_t scale = static_cast<std::int64_t>(fraction.size()) - exponent;

    // Digits of the plain form: integer digits (at least one) and `scale` fractional digits.
    const std::int64_t integerDigits = zero ? 1 : std::max<std::int64_t>(count - scale, 1);
    const std::int64_t total = integerDigits + std::max<std::int64_t>(scale, 0);
    if (total > static_cast<std::int64_t>(kMaxDigits))
        return std::nullopt;

    std::string plain;
    if (negative && !zero)
        plain += '-';
    if (scale <= 0) {
        if (zero)
            plain += '0';
        else
            plain.append(significant).append(static_cast<std::size_t>(-scale), '0');
        return Decimal(std::move(plain));
    }
    const auto fractionDigits = static_cast<std::size_t>(scale);
    if (significant.size() > fractionDigits) {
        const auto split = significant.size() - fractionDigits;
        plain.append(significant.substr(0, split)).append(".").append(significant.substr(split));
    } else {
        plain.append("0.").append(fractionDigits - significant.size(), '0').append(significant);
    }
    return Decimal(std::move(plain));
}

int Decimal::sign() const noexcept {
    const auto parts = magnitude(m_text);
    if (parts.integer.empty() && parts.fraction.empty())
        return 0;
    return m_text.front() == '-' ? -1 : 1;
}

std::weak_ordering operator<=>(const Decimal& left, const Decimal& right) noexcept {
    const int leftSign = left.sign();
    const int rightSign = right.sign();
    if (leftSign != rightSign)
        return leftSign <=> rightSign;
    // Among negative values the larger magnitude is the smaller value.
    return leftSign < 0 ? compareMagnitudes(magnitude(right.m_text), magnitude(left.m_text))
                        : compareMagnitudes(magnitude(left.m_text), magnitude(right.m_text));
}

} // namespace orvek::promo
