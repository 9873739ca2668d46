#include "Scenarios.h"

#include <nlohmann/json.hpp>

#include "base/Base64.h"
#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "installer/InstallerCore.h"
#include "setup/SetupModel.h"
#include "skills/RoleWorkspace.h"

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

namespace fs = std::filesystem;

installer::InstallerCore engine(const SimulatedMac& mac) {
    return installer::InstallerCore(mac.resources(), mac.home(), std::nullopt, mac.deployment());
}

std::string contentOf(const fs::path& path) {
    return fs::exists(path) ? base::readWhole(path) : std::string();
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    if (fs::exists(path))
        fs::remove(path);
    base::create(path, text);
}

// The user's own file in what would be the developer's workspace.
const fs::path kUserNote = "Documents/Orvek Workspaces/developer/мои заметки.md";
constexpr const char* kUserNoteText = "Это моя папка, не трогать.\n";
constexpr const char* kBefore = "# Мои правила\nОтвечай кратко.\n\n";
constexpr const char* kAfter = "\n\n## Ещё\nПиши тесты.\n";

Scenario skillsScenario(std::string name, std::string summary,
                        std::function<void(SimulatedMac&)> prepare, std::vector<std::string> roles,
                        std::string expectedSkillsStatus,
                        std::function<std::string(SimulatedMac&)> check,
                        bool expectSkillsReady = true, std::string alternateParent = {}) {
    Scenario scenario;
    scenario.name = std::move(name);
    scenario.summary = std::move(summary);
    scenario.prepare = std::move(prepare);
    scenario.expectedStatus = setup::SetupModel::kConnectedText;
    scenario.roles = std::move(roles);
    scenario.alternateParent = std::move(alternateParent);
    scenario.expectSkillsReady = expectSkillsReady;
    scenario.expectedSkillsStatus = std::move(expectedSkillsStatus);
    scenario.checkSkills = std::move(check);
    return scenario;
}

std::vector<Scenario> skillsScenarios() {
    const std::string ready = setup::SetupModel::kSkillsReadyText;
    const std::string retry = setup::SetupModel::kSkillsRetryText;
    return {
        skillsScenario(
            "skills-all-roles", "after the run all five roles are chosen: five workspaces",
            [](SimulatedMac&) {}, {"developer", "analyst", "designer", "manager", "video"}, ready,
            [](SimulatedMac& mac) -> std::string {
                for (const auto* folder :
                     {"Documents/Orvek Workspaces/developer", "Documents/Orvek Workspaces/analyst",
                      "Documents/Orvek Workspaces/designer", "Documents/Orvek Workspaces/manager",
                      "Movies/Orvek Studio"})
                    if (!fs::exists(mac.home() / folder / ".orvek-profile.json"))
                        return std::string("no workspace ") + folder;
                const auto agents = contentOf(mac.openCodeConfig() / "AGENTS.md");
                if (agents.find("- video: " + (mac.home() / "Movies/Orvek Studio").string()) ==
                    std::string::npos)
                    return "the section does not list the video workspace";
                return {};
            }),
        skillsScenario(
            "skills-occupied-folder",
            "the developer's folder holds the user's files: refused, then another parent chosen",
            [](SimulatedMac& mac) {
                writeText(mac.home() / kUserNote, kUserNoteText);
                fs::create_directories(mac.home() / "Проекты");
            },
            {"developer"}, ready,
            [](SimulatedMac& mac) -> std::string {
                if (contentOf(mac.home() / kUserNote) != kUserNoteText)
                    return "the user's note changed";
                if (fs::exists(mac.home() / kUserNote.parent_path() / ".orvek-profile.json"))
                    return "the user's folder got a marker";
                for (const auto& entry : fs::directory_iterator(mac.home() / "Проекты"))
                    if (entry.path().filename().string().starts_with("Orvek-developer-") &&
                        fs::exists(entry.path() / "AGENTS.md"))
                        return {};
                return "no workspace under the chosen folder";
            },
            true, "Проекты"),
        skillsScenario(
            "skills-adopted-workspace",
            "a workspace the wizard built before, with the user's edits: adopted as it is",
            [](SimulatedMac& mac) {
                (void)skills::prepareProfile(engine(mac), "developer");
                const auto agents = mac.home() / "Documents/Orvek Workspaces/developer/AGENTS.md";
                writeText(agents, contentOf(agents) + "\nМоя правка.\n");
            },
            {"developer"}, ready,
            [](SimulatedMac& mac) -> std::string {
                const auto agents = mac.home() / "Documents/Orvek Workspaces/developer/AGENTS.md";
                if (!contentOf(agents).ends_with("\nМоя правка.\n"))
                    return "the user's edit is gone";
                return {};
            }),
        skillsScenario(
            "skills-edited-skill",
            "a global skill the wizard installed was edited by the user: refused, all kept",
            [](SimulatedMac& mac) {
                (void)skills::prepareProfile(engine(mac), "developer");
                for (const auto& entry :
                     fs::recursive_directory_iterator(mac.openCodeConfig() / "skills"))
                    if (entry.path().filename() == "SKILL.md") {
                        writeText(entry.path(), contentOf(entry.path()) + "\nМоё уточнение.\n");
                        writeText(mac.home() / ".edited-skill", entry.path().string());
                        break;
                    }
            },
            {"analyst"},
            std::string("Ранее установленный глобальный навык изменён. Файлы сохранены.") + retry,
            [](SimulatedMac& mac) -> std::string {
                const fs::path edited = contentOf(mac.home() / ".edited-skill");
                if (!contentOf(edited).ends_with("\nМоё уточнение.\n"))
                    return "the edited skill changed";
                if (fs::exists(mac.home() / "Documents/Orvek Workspaces/analyst"))
                    return "the analyst's workspace was created anyway";
                return {};
            },
            false),
        skillsScenario(
            "skills-user-instructions",
            "the global AGENTS.md has the user's text before and after the section: both kept",
            [](SimulatedMac& mac) {
                (void)skills::prepareProfile(engine(mac), "developer");
                const auto agents = mac.openCodeConfig() / "AGENTS.md";
                writeText(agents, kBefore + contentOf(agents) + kAfter);
            },
            {"analyst"}, ready,
            [](SimulatedMac& mac) -> std::string {
                const auto agents = contentOf(mac.openCodeConfig() / "AGENTS.md");
                if (!agents.starts_with(kBefore) || !agents.ends_with(kAfter))
                    return "the user's text around the section changed";
                if (agents.find("- analyst: ") == std::string::npos)
                    return "the section does not list the analyst";
                return {};
            }),
        skillsScenario(
            "skills-interrupted",
            "an earlier run died between the two files: rolled back, then installed again",
            [](SimulatedMac& mac) {
                (void)skills::prepareProfile(engine(mac), "developer");
                // The instructions were committed, the state was not, when the power went.
                const auto agents = mac.openCodeConfig() / "AGENTS.md";
                const auto state = mac.openCodeConfig() / ".orvek-awareness.json";
                const auto oldAgents = contentOf(agents);
                const auto oldState = contentOf(state);
                const auto newAgents = oldAgents + "\n";
                const base::JsonValue record = {{"oldAgents", base::base64Encode(oldAgents)},
                                                {"oldState", base::base64Encode(oldState)},
                                                {"newAgents", base::base64Encode(newAgents)},
                                                {"newState", base::base64Encode(oldState + " ")}};
                writeText(mac.openCodeConfig() / ".orvek-awareness-pending.json",
                          base::json(record));
                writeText(agents, newAgents);
            },
            {"analyst"}, ready,
            [](SimulatedMac& mac) -> std::string {
                if (fs::exists(mac.openCodeConfig() / ".orvek-awareness-pending.json"))
                    return "the undo record is still there";
                const auto agents = contentOf(mac.openCodeConfig() / "AGENTS.md");
                if (agents.find("- analyst: ") == std::string::npos ||
                    agents.find("- developer: ") == std::string::npos)
                    return "the section does not list both roles";
                return {};
            }),
    };
}

// A scenario of the main run alone, with no skills step after it.
Scenario mainScenario(std::string name, std::string summary,
                      std::function<void(SimulatedMac&)> prepare, bool expectReady,
                      std::string expectedStatus, std::function<void(SimulatedMac&)> beforeRetry) {
    Scenario scenario;
    scenario.name = std::move(name);
    scenario.summary = std::move(summary);
    scenario.prepare = std::move(prepare);
    scenario.expectReady = expectReady;
    scenario.expectedStatus = std::move(expectedStatus);
    scenario.beforeRetry = std::move(beforeRetry);
    return scenario;
}

} // namespace

const std::vector<Scenario>& scenarios() {
    const std::string ready = setup::SetupModel::kConnectedText;
    const std::string checkFailed =
        "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.";
    static const std::vector<Scenario> kScenarios = {
        mainScenario(
            "fresh",
            "a Mac that has never seen OpenCode: download, install, browser sign-in, preset",
            [](SimulatedMac&) {}, true, ready, {}),
        mainScenario("installed",
                     "OpenCode 2.1.4 already in the user's Applications folder: no image download",
                     [](SimulatedMac& mac) { mac.installOpenCode(mac.home() / "Applications"); },
                     true, ready, {}),
        mainScenario("saved",
                     "a saved, confirmed connection: checked with the service and patched in place",
                     [](SimulatedMac& mac) {
                         mac.cacheDownloads();
                         mac.saveConnection();
                     },
                     true, ready, {}),
        mainScenario(
            "revoked",
            "the helper reports its saved access revoked: nothing changed, no new sign-in",
            [](SimulatedMac& mac) {
                mac.saveConnection();
                mac.configureHelper({{"status", "revoked"}});
            },
            false,
            "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.",
            {}),
        mainScenario("key-refused", "the service refuses the saved key: settings kept",
                     [](SimulatedMac& mac) {
                         mac.saveConnection();
                         mac.answerKey(401, R"({"error":{"code":"invalid_api_key"}})");
                     },
                     false, checkFailed, {}),
        mainScenario("redirect",
                     "the service answers the key check with a redirect, which is not followed",
                     [](SimulatedMac& mac) {
                         mac.saveConnection();
                         mac.server().redirect("/v1/key", "https://example.com/v1/key");
                     },
                     false, checkFailed, {}),
        mainScenario("catalogue-incomplete", "the service's catalogue lacks one model of the set",
                     [](SimulatedMac& mac) {
                         mac.saveConnection();
                         mac.answerModels(modelsWithout("gpt-6.1-sol"));
                     },
                     false, "В каталоге недоступен выбранный набор моделей. Настройки сохранены.",
                     {}),
        mainScenario(
            "locked", "another sign-in holds the helper's lock: failure with a support code",
            [](SimulatedMac& mac) {
                mac.configureHelper({{"setup", "OPERATION_LOCKED"}});
            },
            false,
            "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: OPERATION_LOCKED\nЭтап: helper-setup:exit=75",
            {}),
        mainScenario(
            "opened-during-sign-in",
            "OpenCode opened during the sign-in: asked to close it; the retry reuses the connection",
            [](SimulatedMac& mac) {
                mac.configureHelper({{"openOpenCodeDuringSignIn", true}});
            },
            true, ready, [](SimulatedMac& mac) { (void)mac.closeOpenCode(); }),
        mainScenario(
            "two-installations", "OpenCode in both the user's and the Mac's Applications folders",
            [](SimulatedMac& mac) {
                mac.installOpenCode(mac.home() / "Applications");
                mac.installOpenCode(mac.systemApplications());
            },
            false, "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.", {}),
        mainScenario(
            "version-2.1.3", "OpenCode 2.1.3 installed: the wizard needs 2.1.4 and changes nothing",
            [](SimulatedMac& mac) { mac.installOpenCode(mac.home() / "Applications", "2.1.3"); },
            false, "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.", {}),
        mainScenario(
            "damaged-cache", "the cached OpenCode image is damaged: kept, the user is told",
            [](SimulatedMac& mac) { mac.damageCachedImage(); }, false,
            "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.", {}),
        mainScenario(
            "unconfirmed-settings",
            "OpenCode settings present but the helper confirms nothing: kept, no sign-in",
            [](SimulatedMac& mac) {
                mac.saveConnection();
                std::filesystem::remove(mac.home() / ".orvek-sandbox/configured");
            },
            false,
            "Найдены существующие настройки без подтверждённого статуса. Они сохранены; требуется отдельная проверка доступа.",
            {}),
    };
    static const std::vector<Scenario> kAll = [] {
        auto all = kScenarios;
        for (auto& scenario : skillsScenarios())
            all.push_back(std::move(scenario));
        return all;
    }();
    return kAll;
}

} // namespace orvek::sandbox
