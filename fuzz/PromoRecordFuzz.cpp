// Decodes and verifies any bytes as a campaign record: nothing crashes, and whatever becomes an
// offer satisfies every rule when checked again here by other means (a plain JSON decode, the
// C library's date and number conversions, utf8proc's own boundary marks). The same bytes also
// go through the amount and date readers alone.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <utf8proc.h>

#include "base/Json.h"
#include "promo/Decimal.h"
#include "promo/PromoRecord.h"
#include "promo/PromoVerification.h"
#include "promo/Rfc3339.h"

namespace {

using orvek::base::JsonValue;
using orvek::promo::Decimal;
using orvek::promo::TickRounding;
using Clock = std::chrono::system_clock;

constexpr std::string_view kWebHost = "orvek.ru";
constexpr std::string_view kBalance = "https://orvek.ru/balance";
constexpr std::string_view kDate = "<date>";
// 2030-06-15T12:00:00Z, the middle of the seed campaigns.
constexpr std::int64_t kNow = 1907755200;

constexpr std::string_view kTerms =
    "Бонус +50% к сумме только первого пополнения. Один раз на пользователя; это не скидка. Право проверяет сервер по истории платежей, включая организации.";
constexpr std::string_view kClosing = ". Можно закрыть окно и продолжить работу с OpenCode.";

void check(bool condition, const char* what, std::string_view input) {
    if (condition)
        return;
    std::cerr << "promo record fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

std::optional<JsonValue> plainDecode(std::string_view bytes) {
    try {
        return JsonValue::parse(bytes.begin(), bytes.end());
    } catch (const JsonValue::exception&) {
        return std::nullopt;
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A UTC date-time read with timegm: whole seconds and whether a non-zero fraction followed.
struct Instant {
    std::int64_t seconds = 0;
    bool fraction = false;
};

std::optional<Instant> readDate(std::string_view text) {
    if (text.size() < 20)
        return std::nullopt;
    for (const std::size_t at : {0U, 1U, 2U, 3U, 5U, 6U, 8U, 9U, 11U, 12U, 14U, 15U, 17U, 18U}) {
        if (!isDigit(text[at]))
            return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t count) {
        return std::stoi(std::string(text.substr(at, count)));
    };
    std::tm parts{};
    parts.tm_year = number(0, 4) - 1900;
    parts.tm_mon = number(5, 2) - 1;
    parts.tm_mday = number(8, 2);
    parts.tm_hour = number(11, 2);
    parts.tm_min = number(14, 2);
    parts.tm_sec = number(17, 2);
    const std::tm written = parts;
    const auto seconds = timegm(&parts);
    // timegm carries an impossible field into the next one; an accepted date must not need that.
    if (parts.tm_year != written.tm_year || parts.tm_mon != written.tm_mon ||
        parts.tm_mday != written.tm_mday || parts.tm_hour != written.tm_hour ||
        parts.tm_min != written.tm_min || parts.tm_sec != written.tm_sec)
        return std::nullopt;
    Instant instant{static_cast<std::int64_t>(seconds), false};
    auto rest = text.substr(19);
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        while (!rest.empty() && isDigit(rest.front())) {
            instant.fraction = instant.fraction || rest.front() != '0';
            rest.remove_prefix(1);
        }
    }
    if (rest != "Z" && rest != "z" && rest != "+00:00" && rest != "-00:00")
        return std::nullopt;
    return instant;
}

// Strictly after `now`, and not after `now`, for an instant that may carry a fraction.
bool after(const Instant& instant, std::int64_t now) {
    return instant.seconds > now || (instant.seconds == now && instant.fraction);
}

std::size_t graphemes(const std::string& text) {
    utf8proc_uint8_t* marked = nullptr;
    // CHARBOUND puts 0xFF in front of every user-perceived character.
    const auto length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &marked, UTF8PROC_CHARBOUND);
    if (length < 0)
        return 0;
    std::size_t count = 0;
    for (utf8proc_ssize_t i = 0; i < length; ++i)
        count += marked[i] == 0xFF ? 1 : 0;
    std::free(marked);
    return count;
}

bool blankOrControl(const std::string& text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto rest = static_cast<utf8proc_ssize_t>(text.size());
    while (rest > 0) {
        utf8proc_int32_t scalar = 0;
        const auto length = utf8proc_iterate(bytes, rest, &scalar);
        if (length <= 0)
            return true;
        const auto category = utf8proc_get_property(scalar)->category;
        if (scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F) ||
            category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
            category == UTF8PROC_CATEGORY_ZP)
            return true;
        bytes += length;
        rest -= length;
    }
    return false;
}

// The plain form of an amount: digits, at most one point with digits on both sides, an
// optional leading minus.
bool plainForm(std::string_view text) {
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    const auto point = text.find('.');
    const auto integer = text.substr(0, point);
    const auto fraction =
        point == std::string_view::npos ? std::string_view("0") : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return digits(integer) && digits(fraction) && (integer.size() == 1 || integer.front() != '0');
}

// Compares two non-negative plain forms by padding them to the same shape.
int compareAmounts(std::string_view left, std::string_view right) {
    const auto split = [](std::string_view text) {
        const auto point = text.find('.');
        return std::pair{std::string(text.substr(0, point)),
                         point == std::string_view::npos ? std::string()
                                                         : std::string(text.substr(point + 1))};
    };
    auto [leftInteger, leftFraction] = split(left);
    auto [rightInteger, rightFraction] = split(right);
    const auto width = std::max(leftInteger.size(), rightInteger.size());
    leftInteger.insert(0, width - leftInteger.size(), '0');
    rightInteger.insert(0, width - rightInteger.size(), '0');
    const auto places = std::max(leftFraction.size(), rightFraction.size());
    leftFraction.append(places - leftFraction.size(), '0');
    rightFraction.append(places - rightFraction.size(), '0');
    return (leftInteger + leftFraction).compare(rightInteger + rightFraction);
}

// The amount a fragment of the terms names, or absent when the terms have no such fragment.
std::optional<std::string> amountAfter(std::string_view terms, std::string_view label) {
    const auto at = terms.find(label);
    if (at == std::string_view::npos)
        return std::nullopt;
    const auto start = at + label.size();
    const auto end = terms.find(" ₽.", start);
    if (end == std::string_view::npos)
        return std::string("<unterminated>");
    return std::string(terms.substr(start, end - start));
}

void checkAmount(const JsonValue& document, const char* name, std::string_view terms,
                 std::string_view label, std::string_view input) {
    const auto shown = amountAfter(terms, label);
    const auto member = document.find(name);
    const bool present = member != document.end() && !member->is_null();
    check(shown.has_value() == present, "an amount shown that the record lacks, or missing", input);
    if (!shown)
        return;
    check(plainForm(*shown), "an amount not in plain form", input);
    check(member->is_number(), "an amount that is no number", input);
    // Both conversions are correctly rounded from the same exact value.
    check(std::strtod(shown->c_str(), nullptr) == member->get<double>(),
          "an amount shown with another value", input);
}

void checkOffer(std::string_view input, const orvek::promo::VerifiedPromoOffer& offer,
                const std::vector<Clock::time_point>& asked) {
    const auto document = plainDecode(input);
    check(document.has_value() && document->is_object(), "offer from what JSON refuses", input);
    const auto& record = *document;
    const auto text = [&](const char* name) {
        const auto found = record.find(name);
        return found != record.end() && found->is_string() ? found->get<std::string>()
                                                           : std::string("<none>");
    };
    const auto integer = [&](const char* name) {
        const auto found = record.find(name);
        return found != record.end() && found->is_number_integer() ? found->get<std::int64_t>()
                                                                   : std::int64_t(-1);
    };
    const auto enabled = record.find("enabled");
    check(enabled != record.end() && enabled->is_boolean() && enabled->get<bool>(),
          "offer from a campaign switched off", input);
    check(text("redemptionEligibility") == "FIRST_REAL_TOP_UP", "offer for another eligibility",
          input);
    check(text("bonusType") == "PERCENT", "offer for another bonus kind", input);
    check(integer("bonusValue") == 50, "offer for another bonus", input);
    check(integer("maxRedemptionsPerUser") == 1, "offer for more redemptions", input);

    const auto code = text("code");
    check(offer.code == code, "offer with another code", input);
    const auto characters = graphemes(code);
    check(characters >= 1 && characters <= 128, "offer with a code of the wrong length", input);
    check(!blankOrControl(code), "offer with a blank or control in its code", input);
    check(offer.balance == kBalance, "offer with another top-up page", input);

    const auto startsAt = readDate(text("startsAt"));
    const auto expiresAt = readDate(text("expiresAt"));
    check(startsAt && expiresAt, "offer with a date timegm cannot read", input);
    check(!after(*startsAt, kNow), "offer before its start", input);
    check(after(*expiresAt, kNow), "offer after its end", input);
    check(asked.size() == 1 &&
              std::chrono::floor<std::chrono::seconds>(asked.front()).time_since_epoch().count() ==
                  expiresAt->seconds,
          "the date shown is not the end", input);

    const std::string_view terms = offer.constraints;
    check(terms.starts_with(kTerms), "terms without their first sentence", input);
    check(
        terms.ends_with(std::string(" Действует до ") + std::string(kDate) + std::string(kClosing)),
        "terms without the end date and closing", input);
    checkAmount(record, "minTopUpAmount", terms, " Минимум: ", input);
    checkAmount(record, "maxTopUpAmount", terms, " Максимум пополнения: ", input);
    checkAmount(record, "maxBonusAmount", terms, " Максимальный бонус: ", input);
    const auto minimum = amountAfter(terms, " Минимум: ");
    const auto maximum = amountAfter(terms, " Максимум пополнения: ");
    const auto bonus = amountAfter(terms, " Максимальный бонус: ");
    check(!minimum || !minimum->starts_with('-'), "offer with a negative minimum", input);
    const auto positive = [](const std::optional<std::string>& amount) {
        return !amount || (!amount->starts_with('-') &&
                           amount->find_first_of("123456789") != std::string::npos);
    };
    check(positive(maximum) && positive(bonus), "offer with a limit that is not positive", input);
    check(!minimum || !maximum || compareAmounts(*maximum, *minimum) >= 0,
          "offer with a maximum below the minimum", input);
}

// The amount reader alone: what it accepts is a JSON number of the same value, and its plain
// form reads back as itself.
void checkDecimal(std::string_view input) {
    const auto decimal = Decimal::parse(input);
    if (!decimal)
        return;
    const auto plain = plainDecode(input);
    check(plain && plain->is_number(), "amount from what is no JSON number", input);
    check(plainForm(decimal->text()), "amount text not in plain form", input);
    check(std::strtod(decimal->text().c_str(), nullptr) == plain->get<double>(),
          "amount text of another value", input);
    const auto again = Decimal::parse(decimal->text());
    check(again && again->text() == decimal->text() && *again == *decimal,
          "plain form does not read back", input);
}

// The date reader alone, against timegm.
void checkDate(std::string_view input) {
    const auto down = orvek::promo::parseRfc3339(input, TickRounding::down);
    const auto up = orvek::promo::parseRfc3339(input, TickRounding::up);
    check(down.has_value() == up.has_value(), "rounding changed whether a date reads", input);
    if (!down)
        return;
    check(*down <= *up && *up - *down <= Clock::duration(1), "rounding by more than a tick", input);
    const auto instant = readDate(input);
    check(instant.has_value(), "a date timegm does not read", input);
    check(std::chrono::floor<std::chrono::seconds>(*down).time_since_epoch().count() ==
              instant->seconds,
          "a date at another second", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkDecimal(input);
    checkDate(input);

    const auto dto = orvek::promo::decodePromoRecord(input);
    if (!dto)
        return 0;
    std::vector<Clock::time_point> asked;
    const auto now = Clock::time_point(std::chrono::seconds(kNow));
    const auto offer = orvek::promo::verifyPromoOffer(*dto, kBalance, kWebHost, now,
                                                      [&asked](Clock::time_point instant) {
                                                          asked.push_back(instant);
                                                          return std::string(kDate);
                                                      });
    if (offer)
        checkOffer(input, *offer, asked);
    else
        check(asked.empty(), "a date formatted for no offer", input);
    return 0;
}
