#include <QStringList>
#include <QtGlobal>

#include "app/App.h"
#include "app/LaunchOptions.h"
#include "app/OffscreenNotices.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// A render on a Linux machine without a display draws offscreen instead of failing to connect.
// A Mac always has its window server, and a bundle ships no offscreen platform.
void chooseRenderPlatform(const orvek::app::LaunchOptions& options) {
#if defined(__APPLE__)
    (void)options;
#else
    if (!options.renderRequested || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

} // namespace

namespace orvek::app {

/// The process entry.
struct Main {
    static int main(int argc, char** argv);
};

int Main::main(int argc, char** argv) {
    const auto options = LaunchOptions::parse(argumentsOf(argc, argv));
    chooseRenderPlatform(options);
    silenceOffscreenNotices();
    return App::run(argc, argv, options);
}

} // namespace orvek::app

int main(int argc, char** argv) {
    return orvek::app::Main::main(argc, argv);
}
