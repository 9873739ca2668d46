#include "Scenarios.h"

#include <nlohmann/json.hpp>

#include "installer/InstallerCore.h"
#include "setup/SetupModel.h"

namespace orvek::sandbox {

namespace {

using nlohmann::json;

std::vector<std::string> modelsWithout(std::string_view missing) {
    std::vector<std::string> ids;
    for (const auto id : config::orvekModels)
        if (id != missing)
            ids.emplace_back(id);
    return ids;
}

} // namespace

const std::vector<Scenario>& scenarios() {
    const std::string ready = setup::SetupModel::kConnectedText;
    const std::string checkFailed =
        "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.";
    static const std::vector<Scenario> kScenarios = {
        {"fresh",
         "a Mac that has never seen OpenCode: download, install, browser sign-in, preset",
         [](SimulatedMac&) {},
         true,
         ready,
         {}},
        {"installed",
         "OpenCode 2.1.4 already in the user's Applications folder: no image download",
         [](SimulatedMac& mac) { mac.installOpenCode(mac.home() / "Applications"); },
         true,
         ready,
         {}},
        {"saved",
         "a saved, confirmed connection: checked with the service and patched in place",
         [](SimulatedMac& mac) {
             mac.cacheDownloads();
             mac.saveConnection();
         },
         true,
         ready,
         {}},
        {"revoked",
         "the helper reports its saved access revoked: nothing changed, no new sign-in",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             mac.configureHelper({{"status", "revoked"}});
         },
         false,
         "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.",
         {}},
        {"key-refused",
         "the service refuses the saved key: settings kept",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             mac.answerKey(401, R"({"error":{"code":"invalid_api_key"}})");
         },
         false,
         checkFailed,
         {}},
        {"redirect",
         "the service answers the key check with a redirect, which is not followed",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             mac.server().redirect("/v1/key", "https://example.com/v1/key");
         },
         false,
         checkFailed,
         {}},
        {"catalogue-incomplete",
         "the service's catalogue lacks one model of the set",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             mac.answerModels(modelsWithout("gpt-6.1-sol"));
         },
         false,
         "В каталоге недоступен выбранный набор моделей. Настройки сохранены.",
         {}},
        {"locked",
         "another sign-in holds the helper's lock: failure with a support code",
         [](SimulatedMac& mac) {
             mac.configureHelper({{"setup", "OPERATION_LOCKED"}});
         },
         false,
         "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: OPERATION_LOCKED\nЭтап: helper-setup:exit=75",
         {}},
        {"opened-during-sign-in",
         "OpenCode opened during the sign-in: asked to close it; the retry reuses the connection",
         [](SimulatedMac& mac) {
             mac.configureHelper({{"openOpenCodeDuringSignIn", true}});
         },
         true, ready, [](SimulatedMac& mac) { (void)mac.closeOpenCode(); }},
        {"two-installations",
         "OpenCode in both the user's and the Mac's Applications folders",
         [](SimulatedMac& mac) {
             mac.installOpenCode(mac.home() / "Applications");
             mac.installOpenCode(mac.systemApplications());
         },
         false,
         "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.",
         {}},
        {"version-2.1.3",
         "OpenCode 2.1.3 installed: the wizard needs 2.1.4 and changes nothing",
         [](SimulatedMac& mac) { mac.installOpenCode(mac.home() / "Applications", "2.1.3"); },
         false,
         "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.",
         {}},
        {"damaged-cache",
         "the cached OpenCode image is damaged: kept, the user is told",
         [](SimulatedMac& mac) { mac.damageCachedImage(); },
         false,
         "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.",
         {}},
        {"unconfirmed-settings",
         "OpenCode settings present but the helper confirms nothing: kept, no sign-in",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             std::filesystem::remove(mac.home() / ".orvek-sandbox/configured");
         },
         false,
         "Найдены существующие настройки без подтверждённого статуса. Они сохранены; требуется отдельная проверка доступа.",
         {}},
    };
    return kScenarios;
}

} // namespace orvek::sandbox
