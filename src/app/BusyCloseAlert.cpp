#include "app/BusyCloseAlert.h"

#include "app/BrandAlert.h"

namespace orvek::app {

std::unique_ptr<QMessageBox> BusyCloseAlert::create(QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setObjectName(QStringLiteral("busyCloseAlert"));
    alert->setText(QString::fromUtf8(kTitle));
    alert->setInformativeText(QString::fromUtf8(kText));
    alert->setStandardButtons(QMessageBox::Ok);
    BrandAlert::apply(*alert);
    return alert;
}

} // namespace orvek::app
