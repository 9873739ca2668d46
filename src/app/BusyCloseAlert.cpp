#include "app/BusyCloseAlert.h"

#include <QAbstractButton>

#include "app/BrandAlert.h"

namespace orvek::app {

std::unique_ptr<QMessageBox> BusyCloseAlert::create(QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setObjectName(QStringLiteral("busyCloseAlert"));
    alert->setText(QString::fromUtf8(kTitle));
    alert->setInformativeText(QString::fromUtf8(kText));
    alert->setStandardButtons(QMessageBox::Ok);
    // Its one button only acknowledges: Return, Escape and the close box all press it.
    auto* ok = alert->button(QMessageBox::Ok);
    alert->setDefaultButton(QMessageBox::Ok);
    alert->setEscapeButton(ok);
    ok->setAccessibleDescription(
        QStringLiteral("Закрывает сообщение; окно настройки остаётся открытым."));
    BrandAlert::apply(*alert);
    return alert;
}

} // namespace orvek::app
