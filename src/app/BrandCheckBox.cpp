#include "app/BrandCheckBox.h"

#include <QPainter>
#include <QPainterPath>

#include "app/Brand.h"

namespace orvek::app {

BrandCheckBox::BrandCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setFont(Brand::font(14, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

QSize BrandCheckBox::sizeHint() const {
    return {kLabelIndent + fontMetrics().horizontalAdvance(text()) + 4,
            std::max(kBox + 4, fontMetrics().height() + 4)};
}

QSize BrandCheckBox::minimumSizeHint() const {
    return sizeHint();
}

bool BrandCheckBox::hitButton(const QPoint& position) const {
    return rect().contains(position);
}

void BrandCheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(1.5, (height() - kBox) / 2.0, kBox, kBox);
    QPainterPath shape;
    shape.addRoundedRect(box, 6, 6);
    const bool on = isChecked();
    painter.fillPath(shape, on ? Brand::lime() : Brand::panel());
    QColor outline = isEnabled() ? Brand::ink() : Brand::border();
    if (!on && isEnabled() && !underMouse() && !hasFocus())
        outline = Brand::muted();
    painter.setPen(QPen(outline, 1.5));
    painter.drawPath(shape);
    if (on) {
        QPainterPath tick;
        tick.moveTo(box.left() + 5.0, box.center().y() + 0.5);
        tick.lineTo(box.left() + 8.6, box.bottom() - 5.5);
        tick.lineTo(box.right() - 4.5, box.top() + 5.5);
        painter.setPen(QPen(Brand::ink(), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
    }
    painter.setPen(isEnabled() ? Brand::ink() : Brand::muted());
    painter.setFont(font());
    const QRect label(kLabelIndent, 0, width() - kLabelIndent, height());
    painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft, text());
    // A ticked box looks the same with and without the focus, so the label carries the mark.
    if (hasFocus() && isEnabled()) {
        const QRect drawn =
            painter.fontMetrics().boundingRect(label, Qt::AlignVCenter | Qt::AlignLeft, text());
        QPainterPath ring;
        ring.addRoundedRect(QRectF(drawn)
                                .adjusted(-4.5, -1.5, 4.5, 1.5)
                                .intersected(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)),
                            5, 5);
        painter.setPen(QPen(Brand::ink(), 1.0, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(ring);
    }
}

} // namespace orvek::app
