#include "app/BrandScrollArea.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QShortcut>

#include "app/Brand.h"

namespace orvek::app {

BrandScrollArea::BrandScrollArea(QWidget* parent) : QScrollArea(parent) {
    // Tab goes straight to the controls; the area still scrolls with the keys they pass on,
    // and brings each focused control into view.
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setStyleSheet(
        QStringLiteral(
            "QScrollBar:vertical { background: transparent; width: 10px; margin: 4px 2px; }"
            " QScrollBar:horizontal { background: transparent; height: 10px; margin: 2px 4px; }"
            " QScrollBar::handle { background: %1; border-radius: 3px; min-height: 32px;"
            " min-width: 32px; }"
            " QScrollBar::handle:hover { background: %2; }"
            " QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
            " QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
            .arg(Brand::border().darker(125).name(), Brand::muted().name()));
}

void BrandScrollArea::pressOnReturn(QAbstractButton* button) {
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled() && button->isVisible())
                button->click();
        });
    }
}

} // namespace orvek::app
