#include "promo/PromoRecord.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "Campaign.h"
#include "promo/PromoVerification.h"

namespace orvek::promo {
namespace {

using test::Clock;
using test::issuedCampaign;
using test::issuedRecord;
using test::utc;

// The issued record with the text of one member replaced; the member must be there.
std::string withMember(const std::string& name, const std::string& value) {
    auto record = issuedRecord();
    const auto key = "\"" + name + "\": ";
    const auto at = record.find(key);
    EXPECT_NE(at, std::string::npos) << name;
    const auto start = at + key.size();
    const auto end = record.find_first_of(",\n", start);
    return record.replace(start, end - start, value);
}

// The issued record without one member (never the last one).
std::string withoutMember(const std::string& name) {
    auto record = issuedRecord();
    const auto at = record.find("  \"" + name + "\": ");
    EXPECT_NE(at, std::string::npos) << name;
    return record.erase(at, record.find('\n', at) + 1 - at);
}

// The issued record with members added before the closing brace.
std::string withExtra(const std::string& members) {
    auto record = issuedRecord();
    return record.insert(record.rfind('\n', record.rfind('}')), "," + members);
}

TEST(PromoRecord, DecodesTheIssuedRecord) {
    EXPECT_EQ(decodePromoRecord(issuedRecord()), issuedCampaign());
}

TEST(PromoRecord, ReadsAmountsFromTheirOwnText) {
    const auto dto = decodePromoRecord(
        withExtra(R"( "maxTopUpAmount": 15000.00)") /* a member the issued record lacks */);
    ASSERT_TRUE(dto.has_value());
    ASSERT_TRUE(dto->maxTopUpAmount.has_value());
    EXPECT_EQ(dto->maxTopUpAmount->text(), "15000.00");

    const std::pair<const char*, const char*> rows[] = {
        {"100.50", "100.50"},
        {"0.10", "0.10"},
        {"1e3", "1000"},
        {"1.50E+2", "150"},
        {"1.505E+2", "150.5"},
        {"123456789012345678901234567890", "123456789012345678901234567890"},
        {"9007199254740993", "9007199254740993"},
    };
    for (const auto& [written, plain] : rows) {
        SCOPED_TRACE(written);
        const auto decoded = decodePromoRecord(withMember("minTopUpAmount", written));
        ASSERT_TRUE(decoded.has_value());
        ASSERT_TRUE(decoded->minTopUpAmount.has_value());
        EXPECT_EQ(decoded->minTopUpAmount->text(), plain);
    }
}

TEST(PromoRecord, ShowsAmountsAsWrittenInTheAlert) {
    const auto dto = decodePromoRecord(withMember("minTopUpAmount", "100.50"));
    ASSERT_TRUE(dto.has_value());
    const auto offer = verifyPromoOffer(*dto, test::kBalance, test::kWebHost, test::kNow,
                                        [](Clock::time_point) { return "15.07.2030, 15:00"; });
    ASSERT_TRUE(offer.has_value());
    EXPECT_NE(
        offer->constraints.find(
            " Минимум: 100.50 ₽. Максимальный бонус: 500 ₽. Действует до 15.07.2030, 15:00."),
        std::string::npos);
}

TEST(PromoRecord, TakesAMissingOrNullAmountAsNone) {
    const std::string rows[] = {withoutMember("minTopUpAmount"),
                                withMember("minTopUpAmount", "null")};
    for (const auto& record : rows) {
        SCOPED_TRACE(record);
        const auto dto = decodePromoRecord(record);
        ASSERT_TRUE(dto.has_value());
        EXPECT_EQ(dto->minTopUpAmount, std::nullopt);
        EXPECT_EQ(dto->maxBonusAmount, Decimal::parse("500"));
    }
}

TEST(PromoRecord, KeepsFractionsOfASecondInsideTheCampaign) {
    // Ten fractional digits are finer than the clock: the start moves later, the end earlier.
    const auto starts =
        decodePromoRecord(withMember("startsAt", R"("2030-06-01T00:00:00.0000000001Z")"));
    ASSERT_TRUE(starts.has_value());
    EXPECT_EQ(starts->startsAt, utc(2030, 6, 1) + Clock::duration(1));
    const auto ends =
        decodePromoRecord(withMember("expiresAt", R"("2030-07-15T12:00:00.9999999999Z")"));
    ASSERT_TRUE(ends.has_value());
    EXPECT_EQ(ends->expiresAt, utc(2030, 7, 15, 12, 0, 1) - Clock::duration(1));

    const auto half = decodePromoRecord(withMember("expiresAt", R"("2030-07-15T12:00:00.5Z")"));
    ASSERT_TRUE(half.has_value());
    EXPECT_EQ(half->expiresAt, utc(2030, 7, 15, 12) + std::chrono::milliseconds(500));
}

struct RefusedRow {
    const char* name;
    std::string record;
};

TEST(PromoRecord, RefusesAnythingButTheRecord) {
    const auto issued = issuedRecord();
    const RefusedRow rows[] = {
        // Not strict JSON, or not one object.
        {"empty", ""},
        {"truncated", issued.substr(0, issued.size() / 2)},
        {"trailing comma", withExtra("")},
        {"comment", "// campaign\n" + issued},
        {"byte-order mark", "\xEF\xBB\xBF" + issued},
        {"text after the object", issued + "{}"},
        {"array", "[" + issued + "]"},
        {"duplicate member", withExtra(R"( "bonusValue": 50)")},
        {"invalid UTF-8", withMember("code", "\"ORVEK\xFF\"")},
        {"raw line feed in the code", withMember("code", "\"ORVEK\n\"")},
        // Members other than the record's own, or missing.
        {"misspelt amount", withExtra(R"( "maxTopupAmount": 1000)")},
        {"unknown member", withExtra(R"( "campaignId": "spring")")},
        {"no code", withoutMember("code")},
        {"no enabled", withoutMember("enabled")},
        {"no start", withoutMember("startsAt")},
        {"no end", withoutMember("expiresAt")},
        {"no eligibility", withoutMember("redemptionEligibility")},
        {"no bonus kind", withoutMember("bonusType")},
        {"no bonus value", withoutMember("bonusValue")},
        {"no redemptions", withoutMember("maxRedemptionsPerUser")},
        // Values of another type.
        {"code as a number", withMember("code", "50")},
        {"code null", withMember("code", "null")},
        {"enabled as text", withMember("enabled", R"("true")")},
        {"enabled as 1", withMember("enabled", "1")},
        {"bonus value as text", withMember("bonusValue", R"("50")")},
        {"bonus value with a point", withMember("bonusValue", "50.0")},
        {"bonus value with an exponent", withMember("bonusValue", "5e1")},
        {"bonus value beyond 64 bits", withMember("bonusValue", "9223372036854775808")},
        {"redemptions null", withMember("maxRedemptionsPerUser", "null")},
        {"amount as text", withMember("minTopUpAmount", R"("100")")},
        {"amount as an object", withMember("minTopUpAmount", R"({"value": 100})")},
        {"amount as an array", withMember("minTopUpAmount", "[100]")},
        {"amount as a boolean", withMember("minTopUpAmount", "true")},
        // Numbers too long to be exact, or beyond what JSON decoders read.
        {"amount of 31 digits", withMember("minTopUpAmount", "1234567890123456789012345678901")},
        {"amount of 31 digits with a point",
         withMember("maxBonusAmount", "500.0000000000000000000000000000")},
        {"amount with a large exponent", withMember("maxBonusAmount", "5e30")},
        {"amount beyond a double", withMember("maxBonusAmount", "1e400")},
        {"amount with a tiny exponent", withMember("maxBonusAmount", "1e-400")},
        {"amount with a leading zero", withMember("minTopUpAmount", "0100")},
        {"amount with a plus sign", withMember("minTopUpAmount", "+100")},
        {"amount NaN", withMember("minTopUpAmount", "NaN")},
        // Dates: RFC 3339 in UTC only.
        {"date in another offset", withMember("startsAt", R"("2030-06-01T03:00:00+03:00")")},
        {"end in a negative offset", withMember("expiresAt", R"("2030-07-15T07:00:00-05:00")")},
        {"date without offset", withMember("startsAt", R"("2030-06-01T00:00:00")")},
        {"date only", withMember("expiresAt", R"("2030-07-15")")},
        {"date with a space", withMember("expiresAt", R"("2030-07-15 12:00:00Z")")},
        {"impossible date", withMember("expiresAt", R"("2030-02-30T12:00:00Z")")},
        {"leap second", withMember("expiresAt", R"("2030-06-30T23:59:60Z")")},
        {"date as a number", withMember("startsAt", "1906416000")},
        {"date null", withMember("expiresAt", "null")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decodePromoRecord(row.record), std::nullopt) << row.record;
    }
}

TEST(PromoRecord, RefusesNestingPastTheReadersLimitWithoutCrashing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(decodePromoRecord(withMember("code", deep)), std::nullopt);
    EXPECT_EQ(decodePromoRecord(std::string(100000, '{')), std::nullopt);
}

} // namespace
} // namespace orvek::promo
