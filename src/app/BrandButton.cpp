#include "app/BrandButton.h"

#include <QPainter>
#include <QPainterPath>

#include "app/Brand.h"

namespace orvek::app {

BrandButton::BrandButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFont(Brand::font(14, QFont::Bold));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize BrandButton::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 56, kHeight};
}

QSize BrandButton::minimumSizeHint() const {
    return {120, kHeight};
}

void BrandButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor fill = Brand::lime();
    QColor label = Brand::ink();
    if (!isEnabled()) {
        fill = Brand::border();
        label = Brand::muted();
    } else if (isDown()) {
        fill = fill.darker(112);
    } else if (underMouse()) {
        fill = fill.darker(104);
    }
    QPainterPath shape;
    shape.addRoundedRect(box, 12, 12);
    painter.fillPath(shape, fill);
    if (isEnabled()) {
        painter.setPen(QPen(Brand::ink(), 1.0));
        painter.drawPath(shape);
    }
    if (hasFocus() && isEnabled()) {
        QPainterPath ring;
        ring.addRoundedRect(box.adjusted(3, 3, -3, -3), 9, 9);
        painter.setPen(QPen(Brand::ink(), 1.0, Qt::DotLine));
        painter.drawPath(ring);
    }
    painter.setPen(label);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvek::app
