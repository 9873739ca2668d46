#include "promo/PromoRecord.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "config/ConfigReader.h"
#include "promo/Rfc3339.h"

namespace orvek::promo {

namespace {

using base::JsonValue;
using Members = std::map<std::string, config::ConfigNode>;

// Every member a record may have. Anything else is refused rather than ignored: a misspelt
// optional amount would otherwise drop a limit from the terms the user reads.
constexpr std::array<std::string_view, 11> kFields = {"code",
                                                      "enabled",
                                                      "startsAt",
                                                      "expiresAt",
                                                      "redemptionEligibility",
                                                      "bonusType",
                                                      "bonusValue",
                                                      "maxRedemptionsPerUser",
                                                      "minTopUpAmount",
                                                      "maxTopUpAmount",
                                                      "maxBonusAmount"};

// What a record is read from: the decoded document for strings and booleans, and each value's
// own bytes for numbers, which must never pass through a double.
struct Record {
    std::string_view bytes;
    const JsonValue& document;
    const Members& members;

    [[nodiscard]] const JsonValue* value(const std::string& name) const {
        const auto found = document.find(name);
        return found == document.end() ? nullptr : &*found;
    }

    [[nodiscard]] std::string_view text(const std::string& name) const {
        const auto& range = members.at(name).range;
        return bytes.substr(static_cast<std::size_t>(range.lowerBound),
                            static_cast<std::size_t>(range.upperBound - range.lowerBound));
    }

    [[nodiscard]] std::optional<std::string> string(const std::string& name) const {
        const auto* found = value(name);
        if (found == nullptr || !found->is_string())
            return std::nullopt;
        return found->get<std::string>();
    }

    [[nodiscard]] std::optional<bool> boolean(const std::string& name) const {
        const auto* found = value(name);
        if (found == nullptr || !found->is_boolean())
            return std::nullopt;
        return found->get<bool>();
    }

    [[nodiscard]] std::optional<std::chrono::system_clock::time_point>
    date(const std::string& name, TickRounding rounding) const {
        const auto written = string(name);
        if (!written)
            return std::nullopt;
        return parseRfc3339(*written, rounding);
    }

    // An integer written as one: "50", not "50.0" or "5e1".
    [[nodiscard]] std::optional<std::int64_t> integer(const std::string& name) const {
        const auto* found = value(name);
        if (found == nullptr || !found->is_number())
            return std::nullopt;
        const auto written = text(name);
        const auto digits = written.starts_with('-') ? written.substr(1) : written;
        if (digits.empty() || (digits.size() > 1 && digits.front() == '0'))
            return std::nullopt;
        std::int64_t result = 0;
        const auto* end = written.data() + written.size();
        const auto [stop, error] = std::from_chars(written.data(), end, result);
        if (error != std::errc() || stop != end)
            return std::nullopt;
        return result;
    }

    // Absent when the member is missing or null; nullopt inside when it is not a usable amount.
    [[nodiscard]] std::optional<std::optional<Decimal>> amount(const std::string& name) const {
        const auto* found = value(name);
        if (found == nullptr || found->is_null())
            return std::optional<Decimal>();
        if (!found->is_number())
            return std::nullopt;
        auto decimal = Decimal::parse(text(name));
        if (!decimal)
            return std::nullopt;
        return std::optional<Decimal>(std::move(*decimal));
    }
};

} // namespace

std::optional<PromoOfferDTO> decodePromoRecord(std::string_view bytes) {
    std::optional<config::ConfigReader::Parsed> parsed;
    try {
        parsed.emplace(config::ConfigReader::parse(bytes));
    } catch (const base::InstallerFailure&) {
        return std::nullopt;
    } catch (const base::JsonError&) {
        return std::nullopt;
    }
    const auto& members = *parsed->node.fields;
    for (const auto& [name, node] : members) {
        if (std::find(kFields.begin(), kFields.end(), name) == kFields.end())
            return std::nullopt;
    }
    const Record record{bytes, parsed->dictionary, members};

    auto code = record.string("code");
    const auto enabled = record.boolean("enabled");
    const auto startsAt = record.date("startsAt", TickRounding::up);
    const auto expiresAt = record.date("expiresAt", TickRounding::down);
    auto eligibility = record.string("redemptionEligibility");
    auto bonusType = record.string("bonusType");
    const auto bonusValue = record.integer("bonusValue");
    const auto redemptions = record.integer("maxRedemptionsPerUser");
    auto minTopUp = record.amount("minTopUpAmount");
    auto maxTopUp = record.amount("maxTopUpAmount");
    auto maxBonus = record.amount("maxBonusAmount");
    if (!code || !enabled || !startsAt || !expiresAt || !eligibility || !bonusType || !bonusValue ||
        !redemptions || !minTopUp || !maxTopUp || !maxBonus)
        return std::nullopt;

    return PromoOfferDTO{std::move(*code),
                         *enabled,
                         *startsAt,
                         *expiresAt,
                         std::move(*eligibility),
                         std::move(*bonusType),
                         *bonusValue,
                         *redemptions,
                         std::move(*minTopUp),
                         std::move(*maxTopUp),
                         std::move(*maxBonus)};
}

} // namespace orvek::promo
