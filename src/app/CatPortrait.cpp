#include "app/CatPortrait.h"

#include <QPainter>

#include "app/Brand.h"

namespace orvek::app {

CatPortrait::CatPortrait(int side, QWidget* parent) : QWidget(parent), m_art(Brand::art(2.0)) {
    setObjectName(QStringLiteral("catPortrait"));
    setAccessibleName(QString::fromUtf8(kAccessibleName));
    setAccessibleDescription(QString::fromUtf8(kAccessibleDescription));
    setSide(side);
}

void CatPortrait::setSide(int side) {
    setFixedSize(side, side);
}

void CatPortrait::paintEvent(QPaintEvent*) {
    if (m_art.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(rect(), m_art);
}

} // namespace orvek::app
