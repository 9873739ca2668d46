#include "app/BusyCloseAlert.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>

#include "app/Brand.h"
#include "app/MainWindow.h"

namespace orvek::app {

std::unique_ptr<QMessageBox> BusyCloseAlert::create(QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setObjectName(QStringLiteral("busyCloseAlert"));
    alert->setWindowTitle(QString::fromUtf8(MainWindow::kTitle));
    alert->setWindowModality(Qt::WindowModal);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(QString::fromUtf8(kTitle));
    alert->setInformativeText(QString::fromUtf8(kText));
    const QPixmap art = Brand::art(alert->devicePixelRatioF());
    if (!art.isNull())
        alert->setIconPixmap(art.scaled(QSize(72, 72) * art.devicePixelRatio(), Qt::KeepAspectRatio,
                                        Qt::SmoothTransformation));
    alert->setStandardButtons(QMessageBox::Ok);
    alert->setStyleSheet(
        QStringLiteral("QMessageBox { background: %1; }"
                       " QPushButton { background: %2; color: %3; border: 1px solid %3;"
                       " border-radius: 10px; padding: 8px 26px; min-width: 72px; }"
                       " QPushButton:pressed { background: %4; }")
            .arg(Brand::canvas().name(), Brand::lime().name(), Brand::ink().name(),
                 Brand::lime().darker(112).name()));
    if (auto* title = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        title->setFont(Brand::font(16, QFont::Bold));
    if (auto* text = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        text->setFont(Brand::font(13));
        text->setMinimumWidth(300);
    }
    if (auto* layout = alert->layout()) {
        layout->setContentsMargins(24, 22, 24, 20);
        layout->setSpacing(14);
    }
    if (auto* ok = alert->button(QMessageBox::Ok))
        ok->setFont(Brand::font(13, QFont::DemiBold));
    return alert;
}

} // namespace orvek::app
