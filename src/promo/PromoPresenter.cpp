#include "promo/PromoPresenter.h"

#include <string>

namespace orvek::promo {

PromoAlert PromoPresenter::alert(const VerifiedPromoOffer& offer) {
    return PromoAlert{
        std::string(kTitle),
        offer.constraints,
        offer.code,
        {std::string(kCopyButton), std::string(kTopUpButton), std::string(kNotNowButton)}};
}

void PromoPresenter::show(const VerifiedPromoOffer& offer) const {
    const auto shown = alert(offer);
    auto pressed = m_alerts.run(shown);
    // Copying keeps the user in the alert, so the code can still be read or copied again.
    while (pressed == static_cast<std::size_t>(Choice::copyCode)) {
        m_alerts.copyToClipboard(offer.code);
        pressed = m_alerts.run(shown);
    }
    if (pressed == static_cast<std::size_t>(Choice::topUp))
        m_alerts.openUrl(offer.balance);
}

} // namespace orvek::promo
