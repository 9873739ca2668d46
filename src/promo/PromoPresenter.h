#pragma once

#include <cstddef>
#include <string_view>

#include "promo/PromoAlerts.h"
#include "promo/VerifiedPromoOffer.h"

namespace orvek::promo {

/// The one-time offer's alert: the code can be copied as often as the user likes without
/// leaving it, the second button opens the top-up page, the third only closes it.
class PromoPresenter {
public:
    // The alert's texts, shown as they are.
    static constexpr std::string_view kTitle = "+50% к первому пополнению";
    static constexpr std::string_view kCopyButton = "Копировать код";
    static constexpr std::string_view kTopUpButton = "Перейти к пополнению";
    static constexpr std::string_view kNotNowButton = "Сейчас не нужно";

    /// The image the application puts on the alert when its resources hold it.
    static constexpr std::string_view kIconResource = "orvek-cat-hero-v1";
    static constexpr std::string_view kIconExtension = "png";
    /// The code field's size in points.
    static constexpr int kCodeFieldWidth = 360;
    static constexpr int kCodeFieldHeight = 32;

    /// Index of each button, in the alert's order.
    enum class Choice : std::size_t { copyCode = 0, topUp = 1, notNow = 2 };

    /// `alerts` outlives the presenter.
    explicit PromoPresenter(PromoAlerts& alerts) : m_alerts(alerts) {}

    /// The alert for `offer`, not yet shown.
    [[nodiscard]] static PromoAlert alert(const VerifiedPromoOffer& offer);

    /// Runs the alert until the user leaves it, copying the code each time they ask; on the
    /// interface thread. Throws what the alerts throw.
    void show(const VerifiedPromoOffer& offer) const;

private:
    PromoAlerts& m_alerts;
};

} // namespace orvek::promo
