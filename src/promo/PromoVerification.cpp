#include "promo/PromoVerification.h"

#include <cstdint>

#include <utf8proc.h>

#include "base/UrlParts.h"

namespace orvek::promo {

namespace {

// The one campaign the texts below describe.
constexpr std::string_view kEligibility = "FIRST_REAL_TOP_UP";
constexpr std::string_view kBonusType = "PERCENT";
constexpr std::int64_t kBonusPercent = 50;
constexpr std::int64_t kRedemptionsPerUser = 1;

constexpr std::string_view kTerms =
    "Бонус +50% к сумме только первого пополнения. Один раз на пользователя; это не скидка. Право проверяет сервер по истории платежей, включая организации.";
constexpr std::string_view kMinimum = " Минимум: ";
constexpr std::string_view kMaximumTopUp = " Максимум пополнения: ";
constexpr std::string_view kMaximumBonus = " Максимальный бонус: ";
constexpr std::string_view kRoubles = " ₽.";
constexpr std::string_view kValidUntil = " Действует до ";
constexpr std::string_view kClosing = ". Можно закрыть окно и продолжить работу с OpenCode.";

// White space, line breaks and controls are exactly the scalars of these categories: Cc holds
// tab, line feed, carriage return and the other C0 and C1 controls, Zs every other space, Zl
// and Zp the line and paragraph separators. Format characters (Cf) such as the joiner inside
// emoji sequences are neither.
bool blankOrControl(utf8proc_int32_t scalar) {
    switch (utf8proc_category(scalar)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_ZS:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
        return true;
    default:
        return false;
    }
}

// A code the user can read, copy and type: 1 to 128 user-perceived characters, none of them
// blank or a control.
bool acceptableCode(std::string_view code) {
    if (code.empty())
        return false;
    std::size_t characters = 0;
    utf8proc_int32_t previous = 0;
    utf8proc_int32_t state = 0;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(code.data());
    auto rest = static_cast<utf8proc_ssize_t>(code.size());
    while (rest > 0) {
        utf8proc_int32_t scalar = 0;
        // Refuses malformed UTF-8, overlong forms and surrogates.
        const auto length = utf8proc_iterate(bytes, rest, &scalar);
        if (length <= 0 || blankOrControl(scalar))
            return false;
        if (characters == 0 || utf8proc_grapheme_break_stateful(previous, scalar, &state))
            ++characters;
        if (characters > kMaxCodeCharacters)
            return false;
        previous = scalar;
        bytes += length;
        rest -= length;
    }
    return true;
}

bool acceptableBalance(std::string_view balance, std::string_view webHost) {
    const auto parts = base::urlParts(balance);
    return parts && parts->scheme == "https" && parts->host == webHost && !parts->user &&
           !parts->password && !parts->port;
}

bool acceptableAmounts(const PromoOfferDTO& dto) {
    if (dto.minTopUpAmount && dto.minTopUpAmount->sign() < 0)
        return false;
    if (dto.maxTopUpAmount && dto.maxTopUpAmount->sign() <= 0)
        return false;
    if (dto.maxBonusAmount && dto.maxBonusAmount->sign() <= 0)
        return false;
    return !(dto.minTopUpAmount && dto.maxTopUpAmount && *dto.maxTopUpAmount < *dto.minTopUpAmount);
}

void appendAmount(std::string& text, std::string_view label, const std::optional<Decimal>& amount) {
    if (amount)
        text.append(label).append(amount->text()).append(kRoubles);
}

} // namespace

std::optional<VerifiedPromoOffer>
verifyPromoOffer(const PromoOfferDTO& dto, std::string_view balance, std::string_view webHost,
                 std::chrono::system_clock::time_point now, const DateFormatter& formatDate) {
    if (!dto.enabled || dto.redemptionEligibility != kEligibility || dto.bonusType != kBonusType ||
        dto.bonusValue != kBonusPercent || dto.maxRedemptionsPerUser != kRedemptionsPerUser)
        return std::nullopt;
    if (now < dto.startsAt || !(now < dto.expiresAt) || !(dto.startsAt < dto.expiresAt))
        return std::nullopt;
    if (!acceptableCode(dto.code) || !acceptableBalance(balance, webHost) ||
        !acceptableAmounts(dto))
        return std::nullopt;

    std::string constraints(kTerms);
    appendAmount(constraints, kMinimum, dto.minTopUpAmount);
    appendAmount(constraints, kMaximumTopUp, dto.maxTopUpAmount);
    appendAmount(constraints, kMaximumBonus, dto.maxBonusAmount);
    constraints.append(kValidUntil).append(formatDate(dto.expiresAt)).append(kClosing);
    return VerifiedPromoOffer{dto.code, std::move(constraints), std::string(balance)};
}

} // namespace orvek::promo
