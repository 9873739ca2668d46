#include "ScriptedRun.h"

#include <sys/stat.h>

#include "installer/HelperCommand.h"
#include "installer/PlatformError.h"

namespace orvek::sandbox {

namespace fs = std::filesystem;
using installer::InstallerCore;
using installer::InstallerFailure;
using installer::HelperCommand::setupArguments;
using installer::HelperCommand::statusArguments;

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> kScenarios = {
        {"fresh", "a Mac that has never been connected: browser sign-in, then ready", false, "",
         true},
        {"saved", "the helper already holds a confirmed connection: no new sign-in", true, "",
         true},
        {"locked", "another sign-in holds the helper's lock: failure with a support code", false,
         "locked", false},
    };
    return kScenarios;
}

void prepareHome(const InstallerCore& core, const Scenario& scenario) {
    const auto helper = core.helper();
    InstallerCore::directory(helper.parent_path());
    InstallerCore::create(helper,
                          InstallerCore::read(fs::path(ORVEK_SANDBOX_SOURCE_DIR) / "helper/orvek"));
    if (::chmod(helper.c_str(), 0700) != 0)
        installer::throwLastError("изменить права файла", helper);

    const auto state = helper.parent_path() / "sandbox-state";
    InstallerCore::directory(state);
    if (scenario.helperConfigured)
        InstallerCore::create(state / "configured", "");
    if (!scenario.setupOutcome.empty())
        InstallerCore::create(state / "setup", scenario.setupOutcome);
}

setup::SetupServices scriptedServices(InstallerCore& core) {
    setup::SetupServices services;
    services.main = [&core](const setup::SetupServices::Progress& progress) {
        progress("Проверяем компьютер…");
        progress("Скачиваем официальный OpenCode…");
        progress("Подготавливаем подключение…");

        const auto helper = core.helper();
        const auto status = InstallerCore::run(helper, statusArguments(), std::nullopt,
                                               installer::HelperCommand::kStatusTimeout);
        if (InstallerCore::statusConfigured(status.status, status.standardOutput)) {
            progress("Проверяем сохранённое подключение без повторного входа…");
            return;
        }

        progress("Завершите вход в Орвек в браузере…");
        const auto setup = InstallerCore::run(helper, setupArguments(), std::nullopt,
                                              installer::HelperCommand::kSetupTimeout);
        if (!InstallerCore::setupSucceeded(setup.status, setup.standardOutput))
            throw InstallerCore::setupFailure(setup.standardOutput, setup.standardError,
                                              setup.status);

        progress("Проверяем подключение…");
        const auto check = InstallerCore::run(helper, statusArguments(), std::nullopt,
                                              installer::HelperCommand::kStatusTimeout);
        if (!InstallerCore::statusConfigured(check.status, check.standardOutput))
            throw InstallerFailure("Орвек не подтвердил подключение OpenCode.");
    };
    services.open = [] {};
    return services;
}

} // namespace orvek::sandbox
