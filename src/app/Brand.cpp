#include "app/Brand.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QString>
#include <QStyleFactory>

#include "setup/DefaultServices.h"

namespace orvek::app {
namespace {

QString resourceFile(const QString& name) {
    const auto resources = setup::bundledResources();
    if (!resources)
        return {};
    return QString::fromStdString((*resources / name.toStdString()).string());
}

} // namespace

QColor Brand::color(std::uint32_t rgb) {
    return QColor::fromRgb(static_cast<int>((rgb >> 16) & 0xFFu),
                           static_cast<int>((rgb >> 8) & 0xFFu), static_cast<int>(rgb & 0xFFu));
}

QFont Brand::font(qreal points, QFont::Weight weight) {
    QFont font(QString::fromLatin1(kFontFamily));
    // Without the brand font the nearest sans face stands in.
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qRound(points));
    font.setWeight(weight);
    return font;
}

QPixmap Brand::art(qreal devicePixelRatio) {
    const QString base = QString::fromLatin1(kArtResource);
    if (devicePixelRatio > 1.0) {
        QPixmap sharp(resourceFile(base + QStringLiteral("@2x.png")));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return QPixmap(resourceFile(base + QStringLiteral(".png")));
}

void Brand::registerFont() {
    const QString path = resourceFile(QString::fromLatin1(kFontResource) + QStringLiteral(".ttf"));
    if (!path.isEmpty())
        QFontDatabase::addApplicationFont(path);
}

void Brand::applyAppearance(QApplication& application) {
    // The window is designed for a light look; a dark system theme must not invert it.
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QPalette palette;
    palette.setColor(QPalette::Window, canvas());
    palette.setColor(QPalette::WindowText, ink());
    palette.setColor(QPalette::Base, panel());
    palette.setColor(QPalette::AlternateBase, canvas());
    palette.setColor(QPalette::Text, ink());
    palette.setColor(QPalette::Button, panel());
    palette.setColor(QPalette::ButtonText, ink());
    palette.setColor(QPalette::Highlight, lime());
    palette.setColor(QPalette::HighlightedText, ink());
    palette.setColor(QPalette::ToolTipBase, panel());
    palette.setColor(QPalette::ToolTipText, ink());
    palette.setColor(QPalette::PlaceholderText, muted());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, muted());
    palette.setColor(QPalette::Disabled, QPalette::Text, muted());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, muted());
    application.setPalette(palette);
    application.setFont(font(13));
}

} // namespace orvek::app
