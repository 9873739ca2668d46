#include <QApplication>

#include "app/MainWindow.h"
#include "app/QtMainExecutor.h"
#include "installer/InstallerFailure.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace {

// The install-and-connect operations join the window in a later build; until then the run
// ends with an honest sentence instead of pretending to work.
orvek::setup::SetupServices unavailableServices() {
    orvek::setup::SetupServices services;
    services.main = [](const orvek::setup::SetupServices::Progress&) {
        throw orvek::installer::InstallerFailure(
            "Эта сборка мастера пока не умеет устанавливать OpenCode.");
    };
    services.open = [] {};
    return services;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orvek::app::QtMainExecutor mainExecutor;
    orvek::setup::ThreadExecutor workers;
    auto model = orvek::setup::SetupModel::create(unavailableServices(), mainExecutor, workers);
    orvek::app::MainWindow window(model);
    window.show();
    return QApplication::exec();
}
