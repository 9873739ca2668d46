#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orvek::promo {

/// An exact base-10 amount, read from the text of a JSON number and never through a binary
/// floating-point value, so that "100.50" is shown as "100.50". Compared by value: "1000" and
/// "1000.00" are equal.
class Decimal {
public:
    /// Digits a plain form may hold: far above any amount of money, and short enough that no
    /// reader of the campaign record could have rounded it on the way.
    static constexpr std::size_t kMaxDigits = 30;

    /// The text of one JSON number (RFC 8259: no plus sign, no leading zeros, no bare point)
    /// whose plain form has at most `kMaxDigits` digits; absent for anything else. Throws
    /// std::bad_alloc only.
    [[nodiscard]] static std::optional<Decimal> parse(std::string_view number);

    /// The plain form: an optional minus sign, digits, and a point before any fractional digits;
    /// no exponent, no grouping. Written precision is kept ("1.50e1" is "15.0"); zero has no sign.
    [[nodiscard]] const std::string& text() const noexcept { return m_text; }

    /// -1, 0 or 1 as the value is negative, zero or positive.
    [[nodiscard]] int sign() const noexcept;

    friend std::weak_ordering operator<=>(const Decimal& left, const Decimal& right) noexcept;
    friend bool operator==(const Decimal& left, const Decimal& right) noexcept {
        return std::is_eq(left <=> right);
    }

private:
    explicit Decimal(std::string text) : m_text(std::move(text)) {}

    std::string m_text;
};

} // namespace orvek::promo
