#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "promo/Decimal.h"

namespace orvek::promo {

/// A campaign record as received, before any check: only `verifyPromoOffer` turns it into an
/// offer the wizard may show.
struct PromoOfferDTO {
    /// The promo code the user enters when topping up.
    std::string code;
    bool enabled = false;
    std::chrono::system_clock::time_point startsAt;
    std::chrono::system_clock::time_point expiresAt;
    /// Who may redeem; the wizard shows only "FIRST_REAL_TOP_UP".
    std::string redemptionEligibility;
    /// The kind of bonus; the wizard shows only "PERCENT".
    std::string bonusType;
    std::int64_t bonusValue = 0;
    std::int64_t maxRedemptionsPerUser = 0;
    /// Roubles.
    std::optional<Decimal> minTopUpAmount;
    std::optional<Decimal> maxTopUpAmount;
    std::optional<Decimal> maxBonusAmount;

    friend bool operator==(const PromoOfferDTO&, const PromoOfferDTO&) = default;
};

} // namespace orvek::promo
