#include "app/BrandHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "app/Brand.h"
#include "installer/Deployment.h"

namespace orvek::app {
namespace {

/// A small ink tile with a lime paw print, echoing the art.
class BrandMark final : public QWidget {
public:
    explicit BrandMark(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("brandMark"));
        setFixedSize(26, 26);
        setAccessibleName(QStringLiteral("Знак Орвека"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(tile, Brand::ink());
        painter.setPen(Qt::NoPen);
        painter.setBrush(Brand::lime());
        painter.drawEllipse(QPointF(13.0, 16.2), 4.6, 3.7);
        painter.drawEllipse(QPointF(7.6, 11.6), 1.9, 2.3);
        painter.drawEllipse(QPointF(11.1, 8.3), 1.9, 2.4);
        painter.drawEllipse(QPointF(14.9, 8.3), 1.9, 2.4);
        painter.drawEllipse(QPointF(18.4, 11.6), 1.9, 2.3);
    }
};

} // namespace

BrandHeader::BrandHeader(QWidget* parent)
    : BrandHeader(QString::fromUtf8(kDefaultCaption), parent) {}

BrandHeader::BrandHeader(const QString& caption, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("brandHeader"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 14);
    row->setSpacing(10);
    row->addWidget(new BrandMark(this));

    m_caption = new QLabel(caption, this);
    m_caption->setObjectName(QStringLiteral("brandCaption"));
    QFont captionFont = Brand::font(12, QFont::Bold);
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
    m_caption->setFont(captionFont);
    QPalette palette = m_caption->palette();
    palette.setColor(QPalette::WindowText, Brand::ink());
    m_caption->setPalette(palette);
    row->addWidget(m_caption);
    row->addStretch();

    auto* domain =
        new QLabel(QString::fromStdString(installer::Deployment::production().webHost), this);
    domain->setObjectName(QStringLiteral("brandDomain"));
    domain->setTextFormat(Qt::PlainText);
    domain->setFont(Brand::font(12, QFont::Medium));
    domain->setStyleSheet(
        QStringLiteral("QLabel { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: 11px; padding: 3px 11px; }")
            .arg(Brand::muted().name(), Brand::panel().name(), Brand::border().name()));
    row->addWidget(domain);
}

QString BrandHeader::caption() const {
    return m_caption->text();
}

void BrandHeader::paintEvent(QPaintEvent*) {
    // A hairline under the header separates it from the screen's content.
    QPainter painter(this);
    painter.setPen(QPen(Brand::border(), 1.0));
    painter.drawLine(QPointF(0, height() - 0.5), QPointF(width(), height() - 0.5));
}

} // namespace orvek::app
