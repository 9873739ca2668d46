#include "app/QtPromoAlerts.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "app/Brand.h"
#include "app/BrandAlert.h"
#include "promo/PromoPresenter.h"

namespace orvek::app {
namespace {

// What a button does beyond its label: above all that copying keeps the alert open.
QString descriptionOf(const std::string& label) {
    using promo::PromoPresenter;
    if (label == PromoPresenter::kCopyButton)
        return QStringLiteral("Копирует промокод в буфер обмена; предложение остаётся открытым.");
    if (label == PromoPresenter::kTopUpButton)
        return QStringLiteral("Открывает страницу пополнения баланса Орвека в браузере.");
    if (label == PromoPresenter::kNotNowButton)
        return QStringLiteral("Закрывает предложение; промокод не копируется.");
    return {};
}

} // namespace

QtPromoAlerts::QtPromoAlerts(QWidget* parent) : m_parent(parent) {}

std::unique_ptr<QMessageBox> QtPromoAlerts::build(const promo::PromoAlert& alert, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setObjectName(QStringLiteral("promoAlert"));
    box->setIcon(QMessageBox::Information);
    box->setText(QString::fromStdString(alert.title));
    box->setInformativeText(QString::fromStdString(alert.informativeText));

    BrandAlert::apply(*box);

    // The code is there to be selected and copied, never edited.
    auto* code = new QLineEdit(QString::fromStdString(alert.code));
    code->setObjectName(QStringLiteral("promoCode"));
    code->setReadOnly(true);
    code->setFixedSize(promo::PromoPresenter::kCodeFieldWidth,
                       promo::PromoPresenter::kCodeFieldHeight);
    code->setFont(Brand::font(14, QFont::DemiBold));
    code->setAccessibleName(QStringLiteral("Промокод"));
    code->setAccessibleDescription(QStringLiteral(
        "Только для чтения: код можно выделить и скопировать или нажать «Копировать код»."));
    code->setStyleSheet(
        QStringLiteral("QLineEdit { background: white; color: %1;"
                       " border: 1px solid %2; border-radius: 8px; padding: 0 10px; }"
                       " QLineEdit:focus { border: 2px solid %1; padding: 0 9px; }")
            .arg(Brand::ink().name(), Brand::border().name()));
    // QMessageBox has no accessory view: the field goes into its grid under the texts, after
    // everything that rebuilds that grid.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const int row = grid->rowCount();
        grid->addWidget(code, row - 1, 1, 1, grid->columnCount() - 1);
        // The buttons move one row down, below the field.
        if (auto* buttons = box->findChild<QWidget*>(QStringLiteral("qt_msgbox_buttonbox"))) {
            grid->removeWidget(buttons);
            grid->addWidget(buttons, row, 0, 1, grid->columnCount());
        }
    }

    // Added last, into the button box that now sits below the field.
    bool first = true;
    for (const auto& label : alert.buttons) {
        auto* button = box->addButton(QString::fromStdString(label), QMessageBox::ActionRole);
        BrandAlert::prepareButton(*button);
        button->setAccessibleDescription(descriptionOf(label));
        if (first)
            box->setDefaultButton(button);
        // Escape and the close box leave without acting; never the copy, which stays.
        if (label == promo::PromoPresenter::kNotNowButton)
            box->setEscapeButton(button);
        first = false;
    }
    return box;
}

std::size_t QtPromoAlerts::run(const promo::PromoAlert& alert) {
    const auto box = build(alert, m_parent);
    box->exec();
    // QMessageBox lists its buttons in the order they were added.
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        if (auto* clicked = box->clickedButton();
            clicked && clicked->text() == QString::fromStdString(alert.buttons[i]))
            return i;
    }
    return alert.buttons.size();
}

void QtPromoAlerts::copyToClipboard(const std::string& text) {
    if (auto* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(text));
}

void QtPromoAlerts::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void QtPromoAlerts::show(const promo::VerifiedPromoOffer& offer) {
    promo::PromoPresenter(*this).show(offer);
}

} // namespace orvek::app
