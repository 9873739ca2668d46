#pragma once

#include <cstdint>

#include <QColor>
#include <QFont>
#include <QPixmap>

class QApplication;

namespace orvek::app {

/// The wizard's palette, type and art. Sizes are in points, which Qt draws as
/// device-independent pixels.
class Brand {
public:
    /// An opaque sRGB colour from a 24-bit 0xRRGGBB value.
    [[nodiscard]] static QColor color(std::uint32_t rgb);

    [[nodiscard]] static QColor canvas() { return color(0xF7F8F3); }
    [[nodiscard]] static QColor panel() { return color(0xFFFFFF); }
    [[nodiscard]] static QColor ink() { return color(0x141613); }
    [[nodiscard]] static QColor muted() { return color(0x555D50); }
    [[nodiscard]] static QColor border() { return color(0xDCE1D5); }
    [[nodiscard]] static QColor lime() { return color(0xB9FF00); }
    [[nodiscard]] static QColor error() { return color(0xA52D28); }
    [[nodiscard]] static QColor blue() { return ink(); }

    /// "Onest-Regular" at `points`, with the weight drawn on top of the regular face.
    [[nodiscard]] static QFont font(qreal points, QFont::Weight weight = QFont::Normal);
    /// The art "orvek-cat-hero-v1" for a screen of `devicePixelRatio`; null when the resource
    /// is missing.
    [[nodiscard]] static QPixmap art(qreal devicePixelRatio = 1.0);

    /// Registers "Onest-Regular" from the application's resources for this process; a missing
    /// or unreadable font is skipped without a word.
    static void registerFont();
    /// The light appearance on every platform: one style and the brand's palette.
    static void applyAppearance(QApplication& application);

    static constexpr const char* kFontFamily = "Onest";
    static constexpr const char* kFontResource = "Onest-Regular";
    static constexpr const char* kArtResource = "orvek-cat-hero-v1";
};

} // namespace orvek::app
