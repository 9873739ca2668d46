#include "Campaign.h"

namespace orvek::promo::test {

PromoOfferDTO issuedCampaign() {
    PromoOfferDTO dto;
    dto.code = "ORVEK-START-50";
    dto.enabled = true;
    dto.startsAt = utc(2030, 6, 1);
    dto.expiresAt = utc(2030, 7, 15, 12);
    dto.redemptionEligibility = "FIRST_REAL_TOP_UP";
    dto.bonusType = "PERCENT";
    dto.bonusValue = 50;
    dto.maxRedemptionsPerUser = 1;
    dto.minTopUpAmount = Decimal::parse("100");
    dto.maxBonusAmount = Decimal::parse("500");
    return dto;
}

std::string issuedRecord() {
    return R"({
  "code": "ORVEK-START-50",
  "enabled": true,
  "startsAt": "2030-06-01T00:00:00Z",
  "expiresAt": "2030-07-15T12:00:00Z",
  "redemptionEligibility": "FIRST_REAL_TOP_UP",
  "bonusType": "PERCENT",
  "bonusValue": 50,
  "maxRedemptionsPerUser": 1,
  "minTopUpAmount": 100,
  "maxBonusAmount": 500
}
)";
}

} // namespace orvek::promo::test
