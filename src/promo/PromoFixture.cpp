#include "promo/PromoFixture.h"

namespace orvek::promo {

PromoOfferDTO fixturePromoOffer(std::chrono::system_clock::time_point now) {
    PromoOfferDTO dto;
    dto.code = "SAMPLE-ONLY-CODE";
    dto.enabled = true;
    dto.startsAt = now - std::chrono::seconds(60);
    dto.expiresAt = now + std::chrono::seconds(3600);
    dto.redemptionEligibility = "FIRST_REAL_TOP_UP";
    dto.bonusType = "PERCENT";
    dto.bonusValue = 50;
    dto.maxRedemptionsPerUser = 1;
    dto.minTopUpAmount = Decimal::parse("100");
    dto.maxBonusAmount = Decimal::parse("500");
    return dto;
}

std::string fixtureBalancePage(std::string_view webHost) {
    std::string page("https://");
    page.append(webHost).append("/fixture-not-production");
    return page;
}

} // namespace orvek::promo
