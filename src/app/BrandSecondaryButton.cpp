#include "app/BrandSecondaryButton.h"

#include <QPainter>
#include <QPainterPath>

#include "app/Brand.h"

namespace orvek::app {

BrandSecondaryButton::BrandSecondaryButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {
    setFont(Brand::font(13, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize BrandSecondaryButton::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 40, kHeight};
}

QSize BrandSecondaryButton::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 24, kHeight};
}

void BrandSecondaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = Brand::panel();
    QColor outline = Brand::border();
    QColor label = Brand::ink();
    if (!isEnabled()) {
        fill = Brand::canvas();
        label = Brand::muted();
    } else if (isDown()) {
        fill = Brand::border();
        outline = Brand::ink();
    } else if (underMouse() || hasFocus()) {
        outline = Brand::ink();
    }
    QPainterPath shape;
    shape.addRoundedRect(box, 11, 11);
    painter.fillPath(shape, fill);
    painter.setPen(QPen(outline, 1.0));
    painter.drawPath(shape);
    // The keyboard's place needs a mark of its own: the ink outline alone is also the hover.
    if (hasFocus() && isEnabled()) {
        QPainterPath ring;
        ring.addRoundedRect(box.adjusted(3.5, 3.5, -3.5, -3.5), 8, 8);
        painter.setPen(QPen(Brand::ink(), 1.0, Qt::DotLine));
        painter.drawPath(ring);
    }
    painter.setPen(label);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvek::app
