// The MCP alerts on the simulated Mac, run through the sandbox's command line: the real
// presenter with its default checks, the helper stand-in installed by the engine, and the
// loopback service's MCP endpoint.

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/ProcessRunner.h"

namespace orvek {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInfo =
    "alert: Орвек · OpenCode 0.6.0 — закрытый пилот\n"
    "По умолчанию: Opus 5.0. Также доступны GPT 5.6 Sol, Sonnet 5, Opus 5.5, Sonnet 5.5, Astra и Sol 6.1.\n\n"
    "Модели, MCP и навыки проверяются отдельно. «Подключить через CLI» использует сохранённый доступ, проверяет initialize и tools/list и лишь затем изменяет MCP. Повторный вход и платная генерация не запускаются. Неизвестные настройки сохраняются без изменений.\n\n"
    "Предварительная сборка macOS без нотариального заверения Apple.\n"
    "buttons: [Закрыть] [Проверить MCP] [Подключить через CLI]\n";
constexpr const char* kProgress =
    "alert: Проверяем MCP…\n"
    "Без генерации. Проверка может занять до минуты. Закрытие отменяет ожидающее изменение настроек.\n"
    "buttons: [Отмена]\n";
constexpr const char* kRemoteNote =
    "Проверка remote endpoint без OAuth-токена не подтверждает сохранённый доступ OpenCode.\n";

std::string result(const std::string& text) {
    return std::string("alert: MCP — результат проверки\n") + text +
           "buttons: [Закрыть]\npressed: Закрыть\ndone\n";
}

base::ProcessResult sandbox(const std::vector<std::string>& arguments) {
    return base::run(ORVEK_SANDBOX, arguments, std::nullopt, 300);
}

TEST(SandboxMcp, EveryScenarioEndsAsTheUserShouldSeeIt) {
    const std::string check = std::string(kInfo) + "pressed: Проверить MCP\n" + kProgress;
    const std::string connect = std::string(kInfo) + "pressed: Подключить через CLI\n" + kProgress;
    struct Row {
        const char* scenario;
        std::string expected;
    };
    for (
        const Row& row : {
            Row{"mcp-remote",
                check +
                    result(
                        std::string(
                            "MCP: initialize и tools/list подтверждены. Доступно инструментов: 2. Генерация не выполнялась.\n") +
                        kRemoteNote)},
            Row{"mcp-remote-sign-in",
                check +
                    result(
                        std::string(
                            "MCP: сервер требует вход. Проверка выполнена без OAuth-токена: она не определяет действительность сохранённой авторизации OpenCode.\n") +
                        kRemoteNote)},
            Row{"mcp-local",
                check +
                    result(
                        "Сохранённое подключение через CLI: initialize и tools/list подтверждены. Инструментов: 2.\n")},
            Row{"mcp-repair",
                connect +
                    result("Подключение через CLI проверено и сохранено. Инструментов: 2.\n")},
            Row{"mcp-repair-cancel", connect + "pressed: Отмена\ncancelled\n"},
            Row{"mcp-repair-broken-helper",
                connect + result("Настройки не поддерживаются. Исходные файлы сохранены.\n")},
        }) {
        SCOPED_TRACE(row.scenario);
        const auto run = sandbox({"mcp", "--scenario", row.scenario});
        EXPECT_EQ(run.status, 0) << run.standardError;
        EXPECT_EQ(run.standardOutput, row.expected);
    }
}

// Cancelling leaves the settings as they were and no helper process behind.
TEST(SandboxMcp, ACancelledRepairLeavesNothingBehind) {
    test::TempHome home;
    const auto run =
        sandbox({"mcp", "--scenario", "mcp-repair-cancel", "--home", home.path().string()});
    ASSERT_EQ(run.status, 0) << run.standardError;
    EXPECT_EQ(test::slurp(home / ".config/opencode/opencode.jsonc"),
              test::slurp(home / ".orvek-sandbox/settings-before"));
    std::ifstream in(home / ".orvek-sandbox/mcp.pid");
    pid_t pid = 0;
    ASSERT_TRUE(in >> pid);
    EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH);
    for (const auto& entry : fs::directory_iterator(home / ".config/opencode"))
        EXPECT_EQ(entry.path().filename().string().find("orvek-backup"), std::string::npos);
}

TEST(SandboxMcp, TheListNamesTheMcpScenariosAndUnknownOnesAreRefused) {
    const auto list = sandbox({"list"});
    for (const char* name : {"mcp-remote\t", "mcp-local\t", "mcp-repair\t", "mcp-repair-cancel\t"})
        EXPECT_NE(list.standardOutput.find(name), std::string::npos) << name;
    EXPECT_EQ(sandbox({"mcp", "--scenario", "fresh"}).status, 2);
    EXPECT_EQ(sandbox({"mcp"}).status, 2);
}

} // namespace
} // namespace orvek
