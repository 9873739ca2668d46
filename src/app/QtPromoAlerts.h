#pragma once

#include <memory>

#include <QMessageBox>
#include <QPointer>

#include "promo/PromoAlerts.h"
#include "promo/VerifiedPromoOffer.h"
#include "setup/PromoPresenter.h"

class QWidget;

namespace orvek::app {

/// The promo offer's alert as a message box with the code in a selectable read-only field, the
/// clipboard and the browser; the offer's logic stays in the promo library.
class QtPromoAlerts final : public promo::PromoAlerts, public setup::PromoPresenter {
public:
    /// Alerts open over `parent` (may be null).
    explicit QtPromoAlerts(QWidget* parent);

    /// The alert, built but not shown, with the brand art and the light look.
    [[nodiscard]] static std::unique_ptr<QMessageBox> build(const promo::PromoAlert& alert,
                                                            QWidget* parent);

    std::size_t run(const promo::PromoAlert& alert) override;
    void copyToClipboard(const std::string& text) override;
    void openUrl(const std::string& url) override;

    /// The model's hand-off when the skills step closes.
    void show(const promo::VerifiedPromoOffer& offer) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace orvek::app
