#include "app/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace orvek::app {

SymbolIcon::SymbolIcon(QWidget* parent) : QWidget(parent) {
    setFixedSize(20, 20);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SymbolIcon::setSymbol(const QString& name, const QColor& color) {
    m_symbol = name;
    m_color = color;
    // The mark tells the outcome by shape and colour alone, so it says it in words as well.
    setAccessibleName(meaningOf(name));
    update();
}

QString SymbolIcon::meaningOf(const QString& name) {
    if (name == QStringLiteral("exclamationmark.circle"))
        return QStringLiteral("Внимание");
    if (name == QStringLiteral("checkmark.circle"))
        return QStringLiteral("Готово");
    if (name == QStringLiteral("clock"))
        return QStringLiteral("Выполняется");
    return {};
}

void SymbolIcon::paintEvent(QPaintEvent*) {
    if (m_symbol.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const QPointF c = circle.center();
    QPen pen(m_color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawEllipse(circle);
    if (m_symbol == QStringLiteral("checkmark.circle")) {
        QPainterPath tick;
        tick.moveTo(c.x() - 4.0, c.y() + 0.3);
        tick.lineTo(c.x() - 1.2, c.y() + 3.2);
        tick.lineTo(c.x() + 4.2, c.y() - 3.2);
        painter.drawPath(tick);
    } else if (m_symbol == QStringLiteral("exclamationmark.circle")) {
        painter.drawLine(QPointF(c.x(), c.y() - 4.5), QPointF(c.x(), c.y() + 1.0));
        painter.setBrush(m_color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(c.x(), c.y() + 4.2), 1.2, 1.2);
    } else if (m_symbol == QStringLiteral("clock")) {
        painter.drawLine(c, QPointF(c.x(), c.y() - 4.8));
        painter.drawLine(c, QPointF(c.x() + 3.4, c.y() + 1.8));
    }
}

} // namespace orvek::app
