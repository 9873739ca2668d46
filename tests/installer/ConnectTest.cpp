#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CallLog.h"
#include "Fixtures.h"
#include "Outcome.h"
#include "SimulatedApp.h"
#include "TempHome.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/PlatformError.h"
#include "installer/HelperCommand.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;
using test::kPassed;

constexpr const char* kStandIns = ORVEK_SANDBOX_STAND_INS;
constexpr const char* kTeam = "ABCDE12345";

constexpr const char* kFinishSignIn = "Завершите вход в Орвек в браузере…";
constexpr const char* kCheckingConnection = "Проверяем подключение…";
constexpr const char* kCheckingSaved = "Проверяем сохранённое подключение без повторного входа…";
constexpr const char* kInstallFirst = "Сначала установите OpenCode.";
constexpr const char* kCouldNotCheck =
    "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.";
constexpr const char* kUnconfirmed =
    "Найдены существующие настройки без подтверждённого статуса. Они сохранены; требуется отдельная проверка доступа.";
constexpr const char* kNotConfirmed = "Орвек не подтвердил подключение OpenCode.";
constexpr const char* kClose = "Закройте OpenCode и повторите действие.";
constexpr const char* kHelperChanged = "Компонент подключения изменён. Повторите установку.";
constexpr const char* kCheckFailed =
    "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.";

constexpr const char* kHelperConfiguration =
    R"({"model":"orvek/claude-opus-5","provider":{"orvek":{"npm":"@ai-sdk/openai-compatible","options":{"baseURL":"https://api.orvek.ru/v1","apiKey":"{file:orvek-api-key}"},"models":{}}}})";
constexpr const char* kConfigured =
    R"({"ok":true,"command":"status","configured":true,"state":"active","configuration":{"agents":["opencode"]}})";
constexpr const char* kNotConfigured =
    R"({"ok":false,"command":"status","error":{"code":"NOT_CONFIGURED"}})";

/// One answer of the helper stand-in: standard output, standard error, exit status.
const std::vector<std::string> kStatus = HelperCommand::statusArguments();

struct Reply {
    std::string out;
    std::string err;
    int status = 0;
};

// An engine whose OpenCode is installed and verified and whose helper is a script answering
// from files the test writes, so each call can be scripted and every call is noted.
class Connect : public ::testing::Test {
protected:
    Connect() {
        const auto app = home() / "Applications/OpenCode.app";
        sandbox::writeApp(app,
                          sandbox::infoPlist(sandbox::openCodeInfo(), sandbox::PlistFormat::xml));
        sandbox::signApp(kStandIns, app, kTeam);
        temp.write("resources/free-provider.json", R"({"name":"OpenCode Free","models":{}})");
        pgrepFinds(false);

        // Status replies are taken in turn from status-1, status-2…; the last one repeats.
        (void)temp.script(engine().helper().lexically_relative(temp.path()),
                          test::callLogLines(temp / "helper/calls") +
                              "state=" + quoted(temp / "helper") +
                              "\ncase \"$1\" in\n"
                              "status)\n"
                              "  n=$(($(cat \"$state/count\" 2>/dev/null || echo 0) + 1))\n"
                              "  echo $n > \"$state/count\"\n"
                              "  r=\"$state/status-$n\"; [ -d \"$r\" ] || r=\"$state/status\";;\n"
                              "*) r=\"$state/$1\";;\n"
                              "esac\n"
                              "[ -f \"$r/run\" ] && . \"$r/run\"\n"
                              "cat \"$r/out\"; cat \"$r/err\" >&2; exit $(cat \"$r/status\")");
        temp.write("resources/payloads.json",
                   JsonValue{{"desktopTeamID", kTeam},
                             {"cli-arm64",
                              {{"url", "https://downloads.example.com/orvek.tar.gz"},
                               {"sha256", Deployment().helperArchiveHash},
                               {"binarySha256", base::hashFile(engine().helper())}}}}
                       .dump());
        fs::create_directories(temp / "helper");
    }

    [[nodiscard]] fs::path home() const { return temp / "Users/me"; }
    [[nodiscard]] fs::path config() const { return home() / ".config/opencode"; }

    [[nodiscard]] InstallerCore engine() const {
        Deployment deployment;
        deployment.pgrep = temp / "bin/pgrep";
        deployment.codesign = fs::path(kStandIns) / "codesign";
        // A closed port: a saved connection is checked against nothing reachable.
        deployment.apiConnectTo = "127.0.0.1:9";
        InstallerCore core(temp / "resources", home(), home() / ".config", deployment,
                           std::make_shared<const test::AmpleSpace>());
        core.setInstalledApp(home() / "Applications/OpenCode.app");
        return core;
    }

    void answer(const std::string& name, const Reply& reply, const std::string& run = "") const {
        temp.write("helper/" + name + "/out", reply.out);
        temp.write("helper/" + name + "/err", reply.err);
        temp.write("helper/" + name + "/status", std::to_string(reply.status));
        if (!run.empty())
            temp.write("helper/" + name + "/run", run);
    }
    void pgrepFinds(bool running) const {
        (void)temp.script("bin/pgrep", running ? "exit 0" : "exit 1");
    }

    // What a real sign-in leaves behind in OpenCode's configuration folder.
    [[nodiscard]] std::string leaveHelperFiles() const {
        return "mkdir -p " + quoted(config()) + "\nprintf '%s' " + quoted(kHelperConfiguration) +
               " > " + quoted(config() / "opencode.jsonc") + "\necho sk-orvek-12345678 > " +
               quoted(config() / "orvek-api-key") + "\n";
    }

    /// The helper's calls, each as its argument list.
    [[nodiscard]] std::vector<std::vector<std::string>> calls() const {
        return test::readCallLog(temp / "helper/calls");
    }

    /// Runs connect; returns the progress texts and sets `outcome` to what the user would read.
    static std::vector<std::string> connect(InstallerCore& core, std::string& outcome) {
        std::vector<std::string> texts;
        outcome = test::outcomeOf(
            [&] { core.connect([&texts](const std::string& text) { texts.push_back(text); }); });
        return texts;
    }

    /// connect asks the helper for its status once and stops there, saying it could not check.
    void expectStoppedAfterTheStatus() const {
        auto core = engine();
        std::string outcome;
        const auto texts = connect(core, outcome);
        EXPECT_EQ(outcome, kCouldNotCheck);
        EXPECT_TRUE(texts.empty());
        EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{kStatus}));
    }

    static std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

    test::TempHome temp;
};

TEST_F(Connect, SignsInOnACleanMacThenWritesThePreset) {
    answer("status-1", {"", kNotConfigured, 1});
    answer("setup", {R"({"ok":true,"command":"setup"})", "", 0}, leaveHelperFiles());
    answer("status", {kConfigured, "", 0});
    auto core = engine();
    std::string outcome;
    const auto texts = connect(core, outcome);

    ASSERT_EQ(outcome, kPassed);
    EXPECT_EQ(texts, (std::vector<std::string>{kFinishSignIn, kCheckingConnection}));
    EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{
                           kStatus, HelperCommand::setupArguments(), kStatus}));
    EXPECT_TRUE(fs::exists(config() / "opencode.json"));
    EXPECT_EQ(test::slurp(config() / "opencode.json"),
              test::slurp(config() / "opencode.json.orvek-preset-owned"));
}

TEST_F(Connect, AnythingButAPlainNotConfiguredStopsBeforeSignIn) {
    const std::map<std::string, Reply> cases = {
        {"not configured on the wrong stream", {kNotConfigured, "", 1}},
        {"exit 0 yet not configured",
         {R"({"ok":true,"command":"status","configured":false})", "", 0}},
        {"another error code", {"", R"({"ok":false,"error":{"code":"NETWORK_ERROR"}})", 1}},
        {"revoked",
         {"", R"({"ok":false,"state":"revoked","error":{"code":"SETUP_REAUTH_REQUIRED"}})", 1}},
        {"revoked with exit 0",
         {R"({"ok":true,"command":"status","configured":true,"state":"revoked","configuration":{"agents":["opencode"]}})",
          "", 0}},
        {"no error object", {"", R"({"ok":false})", 1}},
        {"code of another type", {"", R"({"error":{"code":1}})", 1}},
        {"not JSON", {"", "NOT_CONFIGURED", 1}},
        {"configured without opencode",
         {R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":["cursor"]}})",
          "", 0}},
    };
    for (const auto& [name, reply] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(temp / "helper");
        answer("status", reply);
        expectStoppedAfterTheStatus();
    }
}

// A helper that dies of a signal told us nothing, whatever it printed first: SIGHUP even leaves a
// status that reads 1, the exit code of a plain "not configured".
TEST_F(Connect, AHelperKilledDuringTheStatusCallNeverOpensASignIn) {
    const struct {
        const char* name;
        Reply reply;
        const char* signal;
    } rows[] = {
        {"not configured, then SIGHUP", {"", kNotConfigured, 1}, "HUP"},
        {"not configured, then SIGKILL", {"", kNotConfigured, 1}, "KILL"},
        {"configured, then SIGTERM", {kConfigured, "", 0}, "TERM"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(temp / "helper");
        answer("status", row.reply,
               "cat \"$r/out\"; cat \"$r/err\" >&2; kill -" + std::string(row.signal) + " $$\n");
        expectStoppedAfterTheStatus();
        EXPECT_FALSE(fs::exists(config()));
    }
}

TEST_F(Connect, ExistingSettingsWithoutAConfirmedStatusAreKept) {
    for (const char* name : {"opencode.jsonc", "opencode.json", "orvek-api-key"}) {
        SCOPED_TRACE(name);
        fs::remove_all(temp / "helper");
        fs::remove_all(config());
        answer("status", {"", kNotConfigured, 1});
        temp.write(config().lexically_relative(temp.path()) / name, "{\"mine\":true}");
        auto core = engine();
        std::string outcome;
        (void)connect(core, outcome);
        EXPECT_EQ(outcome, kUnconfirmed);
        EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{kStatus}));
        EXPECT_EQ(test::slurp(config() / name), "{\"mine\":true}");
        EXPECT_EQ(std::distance(fs::directory_iterator(config()), fs::directory_iterator()), 1);
    }
}

TEST_F(Connect, AFailedSignInCarriesTheHelpersCode) {
    answer("status", {"", kNotConfigured, 1});
    answer("setup", {"", R"({"ok":false,"error":{"code":"OPERATION_LOCKED"}})", 75});
    auto core = engine();
    std::string outcome;
    const auto texts = connect(core, outcome);

    EXPECT_EQ(
        outcome,
        "code OPERATION_LOCKED: Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: OPERATION_LOCKED\nЭтап: helper-setup:exit=75");
    EXPECT_EQ(texts, std::vector<std::string>{kFinishSignIn});
    EXPECT_FALSE(fs::exists(config()));
}

TEST_F(Connect, AnUnconfirmedSignInWritesNoPreset) {
    answer("status-1", {"", kNotConfigured, 1});
    answer("setup", {R"({"ok":true,"command":"setup"})", "", 0}, leaveHelperFiles());
    answer("status",
           {R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":[]}})", "",
            0});
    auto core = engine();
    std::string outcome;
    (void)connect(core, outcome);

    EXPECT_EQ(outcome, kNotConfirmed);
    EXPECT_FALSE(fs::exists(config() / "opencode.json"));
    EXPECT_FALSE(fs::exists(config() / "opencode.json.orvek-preset-owned"));
}

// The user opens OpenCode while signing in: the preset waits, and the retry finds the helper
// connected, so it checks the saved connection instead of signing in again.
TEST_F(Connect, OpenCodeOpenedDuringSignInThenARetryTakesTheSavedConnection) {
    answer("status-1", {"", kNotConfigured, 1});
    answer("setup", {R"({"ok":true,"command":"setup"})", "", 0},
           leaveHelperFiles() + "printf '#!/bin/sh\\nexit 0\\n' > " + quoted(temp / "bin/pgrep") +
               "\n");
    answer("status", {kConfigured, "", 0});
    auto core = engine();
    std::string outcome;
    (void)connect(core, outcome);
    EXPECT_EQ(outcome, kClose);
    EXPECT_FALSE(fs::exists(config() / "opencode.json"));

    pgrepFinds(false);
    const auto texts = connect(core, outcome);
    EXPECT_EQ(texts, std::vector<std::string>{kCheckingSaved});
    // The engine's service is unreachable here, so the check itself fails, keeping the files.
    EXPECT_EQ(outcome, std::string("code EXISTING_CONNECTION_CHECK_FAILED: ") + kCheckFailed);
    EXPECT_EQ(test::slurp(config() / "opencode.jsonc"), kHelperConfiguration);
    EXPECT_EQ(calls().size(), 4u);
    EXPECT_EQ(calls().back(), kStatus);
}

TEST_F(Connect, RefusesBeforeAskingTheHelperWhenTheEngineIsNotReady) {
    answer("status", {kConfigured, "", 0});
    {
        auto core = engine();
        core.setInstalledApp(std::nullopt);
        std::string outcome;
        (void)connect(core, outcome);
        EXPECT_EQ(outcome, kInstallFirst);
    }
    {
        temp.write(engine().helper().lexically_relative(temp.path()), "#!/bin/sh\nexit 0\n",
                   fs::perms::owner_all);
        auto core = engine();
        std::string outcome;
        (void)connect(core, outcome);
        EXPECT_EQ(outcome, kHelperChanged);
    }
    EXPECT_TRUE(calls().empty());
}

TEST_F(Connect, ASavedConnectionIsCheckedNotReplaced) {
    answer("status", {kConfigured, "", 0});
    temp.write(config().lexically_relative(temp.path()) / "opencode.jsonc", "{\"model\": 1}");
    temp.write(config().lexically_relative(temp.path()) / "orvek-api-key", "sk-orvek-12345678");
    auto core = engine();
    std::string outcome;
    const auto texts = connect(core, outcome);
    EXPECT_EQ(texts, std::vector<std::string>{kCheckingSaved});
    EXPECT_EQ(
        outcome,
        "code CONFIGURATION_UNSUPPORTED: Настройки не поддерживаются. Исходные файлы сохранены.");
    EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{kStatus}));
    EXPECT_EQ(test::slurp(config() / "opencode.jsonc"), "{\"model\": 1}");
}

} // namespace
} // namespace orvek::installer
