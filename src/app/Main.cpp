#include <cstdio>
#include <exception>
#include <memory>

#include <QApplication>

#include "app/AppDelegate.h"
#include "app/Brand.h"
#include "app/LaunchOptions.h"
#include "app/OffscreenNotices.h"
#include "app/QtMainExecutor.h"
#include "app/QtWorkspace.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// A render on a machine without a display draws offscreen instead of failing to connect.
void chooseRenderPlatform(const orvek::app::LaunchOptions& options) {
    if (!options.renderRequested || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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

    QApplication application(argc, argv);
    Brand::applyAppearance(application);
    QApplication::setQuitOnLastWindowClosed(
        AppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    // Destroyed in reverse: the workers stop (finishing their task) before what they use goes.
    QtWorkspace workspace;
    QtMainExecutor mainExecutor;
    setup::ThreadExecutor workers;
    std::shared_ptr<setup::SetupModel> model;
    try {
        model = setup::SetupModel::create(workspace, mainExecutor, workers);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }

    AppDelegate delegate(std::move(model), options);
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}

} // namespace orvek::app

int main(int argc, char** argv) {
    return orvek::app::Main::main(argc, argv);
}
