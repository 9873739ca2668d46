#pragma once

#include <memory>

#include <QImage>
#include <QSize>
#include <QString>

class QWidget;

namespace orvek::setup {
class SetupModel;
}

namespace orvek::app {

/// How drawing a screen into a PNG file ended: status 0, or a non-zero status with a one-line
/// message for the user.
struct RenderOutcome {
    int status = 0;
    QString message;

    [[nodiscard]] bool succeeded() const noexcept { return status == 0; }
};

/// Draws screens into PNG files for review.
class ScreenRenderer {
public:
    /// Nothing could be drawn (no bitmap of that size could be made).
    static constexpr int kNoBitmap = 2;
    /// The PNG could not be encoded or written, or no file was named.
    static constexpr int kNotWritten = 1;

    /// Lays `view` out at `size` points (its own minimum aside), draws it and writes the PNG to
    /// `path`, replacing any file there.
    [[nodiscard]] static RenderOutcome render(QWidget& view, QSize size, const QString& path);
    /// The main setup screen for the model's current state, in a window of its own that never
    /// appears on screen. Call on the GUI thread.
    [[nodiscard]] static RenderOutcome renderSetupScreen(std::shared_ptr<setup::SetupModel> model,
                                                         QSize size, const QString& path);
    /// Encodes `image` as PNG and writes it to `path` in one step.
    [[nodiscard]] static RenderOutcome writePng(const QImage& image, const QString& path);
};

} // namespace orvek::app
