#include "promo/Decimal.h"

#include <compare>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace orvek::promo {
namespace {

struct PlainRow {
    const char* number;
    const char* plain;
};

TEST(Decimal, KeepsTheWrittenDigitsInPlainForm) {
    const PlainRow rows[] = {
        {"100", "100"},
        {"100.50", "100.50"},
        {"0", "0"},
        {"0.00", "0.00"},
        {"0.05", "0.05"},
        {"-5", "-5"},
        {"-1000.25", "-1000.25"},
        // Zero has no sign to show.
        {"-0", "0"},
        {"-0.00", "0.00"},
        // Exponents are spelt out, keeping the written precision.
        {"1e3", "1000"},
        {"1E+3", "1000"},
        {"1.50e1", "15.0"},
        {"15e-1", "1.5"},
        {"1e-2", "0.01"},
        {"-2.5E-3", "-0.0025"},
        {"0e500", "0"},
        {"0.0e-1", "0.00"},
        // Exactly thirty digits, beyond what a double tells apart.
        {"123456789012345678901234567890", "123456789012345678901234567890"},
        {"0.00000000000000000000000000001", "0.00000000000000000000000000001"},
        {"1e29", "100000000000000000000000000000"},
        {"9007199254740993", "9007199254740993"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number);
        const auto decimal = Decimal::parse(row.number);
        ASSERT_TRUE(decimal.has_value());
        EXPECT_EQ(decimal->text(), row.plain);
        // The plain form reads back as itself.
        const auto again = Decimal::parse(decimal->text());
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(again->text(), decimal->text());
    }
}

TEST(Decimal, RefusesWhatIsNoJsonNumberOrTooLongToBeExact) {
    using namespace std::string_literals;
    for (const auto& number :
         {""s, "-"s, "+1"s, "01"s, "-01"s, "00"s, "1."s, ".5"s, "1e"s, "1e+"s, "e5"s, "0x10"s,
          " 1"s, "1 "s, "1,5"s, "1_000"s, "NaN"s, "Infinity"s, "-Infinity"s, "1.5.5"s, "1e5e5"s,
          "\xd9\xa1"s, "1\0"s, "--1"s, "1-"s, "true"s, "\"1\""s,
          // Thirty-one digits in plain form, however they are written.
          "1234567890123456789012345678901"s, "0.000000000000000000000000000001"s, "1e30"s,
          "1.000000000000000000000000000000"s, "0e-30"s, "1e-30"s,
          // Exponents far past any limit must not wrap around.
          "1e9999999999999999999999"s, "1e-9999999999999999999999"s, "0.1e9223372036854775808"s}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(Decimal::parse(number), std::nullopt);
    }
}

struct OrderRow {
    const char* left;
    const char* right;
    std::weak_ordering order;
};

TEST(Decimal, ComparesValuesExactly) {
    const OrderRow rows[] = {
        {"1000", "1000.00", std::weak_ordering::equivalent},
        {"1000", "1e3", std::weak_ordering::equivalent},
        {"100.5", "100.50", std::weak_ordering::equivalent},
        {"0", "-0.0", std::weak_ordering::equivalent},
        {"999", "1000", std::weak_ordering::less},
        {"999.99", "1000", std::weak_ordering::less},
        {"0.1", "0.09", std::weak_ordering::greater},
        {"-0.1", "-0.09", std::weak_ordering::less},
        {"-1", "0", std::weak_ordering::less},
        {"-1000", "1", std::weak_ordering::less},
        {"0.3", "0.30000000000000004", std::weak_ordering::less},
        {"9007199254740993", "9007199254740992", std::weak_ordering::greater},
        {"123456789012345678901234567890", "123456789012345678901234567889",
         std::weak_ordering::greater},
        {"-123456789012345678901234567890", "-123456789012345678901234567889",
         std::weak_ordering::less},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.left) + " vs " + row.right);
        const auto left = Decimal::parse(row.left);
        const auto right = Decimal::parse(row.right);
        ASSERT_TRUE(left && right);
        EXPECT_EQ(*left <=> *right, row.order);
        EXPECT_EQ(*right <=> *left, 0 <=> row.order);
        EXPECT_EQ(*left == *right, row.order == std::weak_ordering::equivalent);
    }
}

TEST(Decimal, TellsTheSign) {
    const std::pair<const char*, int> rows[] = {{"0", 0},   {"-0", 0},     {"0.000", 0},
                                                {"0e9", 0}, {"-0.0", 0},   {"0.001", 1},
                                                {"500", 1}, {"-0.01", -1}, {"-1e2", -1}};
    for (const auto& [number, sign] : rows) {
        SCOPED_TRACE(number);
        const auto decimal = Decimal::parse(number);
        ASSERT_TRUE(decimal.has_value());
        EXPECT_EQ(decimal->sign(), sign);
    }
}

} // namespace
} // namespace orvek::promo
