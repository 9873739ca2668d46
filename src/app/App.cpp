#include "app/App.h"

#include <cstdio>
#include <exception>
#include <memory>

#include <QApplication>

#include "app/AppDelegate.h"
#include "app/Brand.h"
#include "app/QtMainExecutor.h"
#include "app/QtWorkspace.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace orvek::app {

int App::run(int& argc, char** argv, const LaunchOptions& options) {
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
