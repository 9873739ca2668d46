#include "installer/InstallerCore.h"

#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/ProcessRunner.h"
#include "installer/ExistingConnection.h"
#include "installer/HelperCommand.h"
#include "installer/HelperReplies.h"

namespace orvek::installer {

namespace {

constexpr const char* kInstallFirst = "Сначала установите OpenCode.";
constexpr const char* kCouldNotCheck =
    "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.";
constexpr const char* kUnconfirmedSettings =
    "Найдены существующие настройки без подтверждённого статуса. Они сохранены; требуется отдельная проверка доступа.";
constexpr const char* kNotConfirmed = "Орвек не подтвердил подключение OpenCode.";

constexpr const char* kCheckingSaved = "Проверяем сохранённое подключение без повторного входа…";
constexpr const char* kFinishSignIn = "Завершите вход в Орвек в браузере…";
constexpr const char* kCheckingConnection = "Проверяем подключение…";

// A fresh sign-in is safe only when the helper says in so many words, on its error stream,
// that it holds no connection; anything else may hide a connection a new sign-in would replace.
bool freshSetupAllowed(const base::ProcessResult& status) {
    if (status.status == 0 || status.signaled)
        return false;
    const auto reply = response(status.standardError);
    const auto error = reply.find("error");
    if (error == reply.end() || !error->is_object())
        return false;
    const auto code = error->find("code");
    return code != error->end() && code->is_string() &&
           code->get<std::string>() == HelperCommand::kNotConfigured;
}

} // namespace

void InstallerCore::connect(const std::function<void(const std::string&)>& progress) {
    preflight();
    verifyHelper();
    if (!installedApp())
        throw InstallerFailure(kInstallFirst);
    verifyApp(*installedApp());
    (void)tryPrepareFreshDesktopDefaults(desktopData());

    const auto status = base::run(helper(), HelperCommand::statusArguments(), std::nullopt,
                                  deployment().helperStatusSeconds);
    if (!status.signaled && statusConfigured(status.status, status.standardOutput)) {
        progress(kCheckingSaved);
        ExistingConnection::reuse(*this);
        return;
    }
    if (!freshSetupAllowed(status))
        throw InstallerFailure(kCouldNotCheck);

    const auto folder = globalConfig();
    for (const char* name : {"opencode.jsonc", "opencode.json", "orvek-api-key"})
        if (base::present(folder / name))
            throw InstallerFailure(kUnconfirmedSettings);

    progress(kFinishSignIn);
    const auto setup = base::run(helper(), HelperCommand::setupArguments(), std::nullopt,
                                 deployment().helperSetupSeconds);
    if (setup.signaled || !setupSucceeded(setup.status, setup.standardOutput))
        throw setupFailure(setup.standardOutput, setup.standardError, setup.status);

    progress(kCheckingConnection);
    const auto check = base::run(helper(), HelperCommand::statusArguments(), std::nullopt,
                                 deployment().helperStatusSeconds);
    if (check.signaled || !statusConfigured(check.status, check.standardOutput))
        throw InstallerFailure(kNotConfirmed);

    // The user may have opened OpenCode while signing in; it would overwrite the preset.
    ensureClosed();
    applyPreset(folder);
}

} // namespace orvek::installer
