#pragma once

#include <optional>

#include <QSize>
#include <QString>
#include <QStringList>

namespace orvek::app {

/// What the command line asks for: "--render NAME OUT.png [--width W] [--height H]". Each
/// option is found by exact match anywhere; its value is the argument after it.
struct LaunchOptions {
    struct Render {
        QString screen;
        QString output;
    };

    /// "--render" appears at all (the application then stays out of the Dock).
    bool renderRequested = false;
    /// Present only when "--render" is followed by both a screen name and an output path.
    std::optional<Render> render;
    /// Present only when the value parses completely as a positive decimal number.
    std::optional<int> width;
    std::optional<int> height;

    /// `arguments` without the program name.
    [[nodiscard]] static LaunchOptions parse(const QStringList& arguments);
    /// The size to draw: the given width and height, else the defaults.
    [[nodiscard]] QSize sizeOr(QSize defaults) const;
};

} // namespace orvek::app
