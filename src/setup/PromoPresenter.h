#pragma once

#include "promo/VerifiedPromoOffer.h"

namespace orvek::setup {

/// Shows the promo offer's alert; the application implements it with the window system.
class PromoPresenter {
public:
    virtual ~PromoPresenter() = default;
    /// Runs the alert on the interface thread until the user leaves it.
    virtual void show(const promo::VerifiedPromoOffer& offer) = 0;
};

} // namespace orvek::setup
