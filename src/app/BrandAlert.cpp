#include "app/BrandAlert.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>

#include "app/Brand.h"
#include "app/CatPortrait.h"
#include "app/MainWindow.h"

namespace orvek::app {

void BrandAlert::apply(QMessageBox& box) {
    box.setWindowTitle(QString::fromUtf8(MainWindow::kTitle));
    box.setWindowModality(Qt::WindowModal);
    box.setTextFormat(Qt::PlainText);
    const QPixmap art = Brand::art(box.devicePixelRatioF());
    if (!art.isNull()) {
        box.setIconPixmap(art.scaled(QSize(72, 72) * art.devicePixelRatio(), Qt::KeepAspectRatio,
                                     Qt::SmoothTransformation));
        // The art says the same in words as the cat on the main screen.
        if (auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
            icon->setAccessibleName(QString::fromUtf8(CatPortrait::kAccessibleName));
            icon->setAccessibleDescription(QString::fromUtf8(CatPortrait::kAccessibleDescription));
        }
    }
    // Before the style sheet, so the buttons are sized for the brand font.
    for (auto* button : box.buttons())
        prepareButton(*button);
    box.setStyleSheet(
        QStringLiteral("QMessageBox { background: %1; }"
                       " QPushButton { background: white; color: %2; border: 1px solid %2;"
                       " border-radius: 10px; padding: 8px 18px; }"
                       " QPushButton:default { background: %3; }"
                       " QPushButton:focus { border-width: 2px; padding: 7px 17px; }"
                       " QPushButton:pressed { background: %4; }")
            .arg(Brand::canvas().name(), Brand::ink().name(), Brand::lime().name(),
                 Brand::lime().darker(112).name()));
    if (auto* title = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        title->setFont(Brand::font(16, QFont::Bold));
    if (auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        text->setFont(Brand::font(13));
        text->setMinimumWidth(360);
    }
    if (auto* layout = box.layout()) {
        layout->setContentsMargins(24, 22, 24, 20);
        layout->setSpacing(14);
    }
}

void BrandAlert::prepareButton(QAbstractButton& button) {
    button.setFont(Brand::font(13, QFont::DemiBold));
    // Return presses the alert's default button wherever the focus is, as on the Mac; Space
    // presses the focused one. Otherwise the default would wander with the focus.
    if (auto* push = qobject_cast<QPushButton*>(&button))
        push->setAutoDefault(false);
}

} // namespace orvek::app
