#include <string>

#include <gtest/gtest.h>

#include "installer/InstallerCore.h"

namespace orvek {
namespace {

using installer::InstallerCore;

struct Row {
    const char* scenario;
    const char* expected;
};

// The whole run as the user reads it: each status text once, in order, then the outcome.
TEST(SandboxRun, PrintsWhatTheUserSees) {
    const Row rows[] = {
        {"fresh",
         "Проверяем компьютер…\n"
         "Скачиваем официальный OpenCode…\n"
         "Подготавливаем подключение…\n"
         "Завершите вход в Орвек в браузере…\n"
         "Проверяем подключение…\n"
         "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.\n"
         "ready\n"},
        {"saved",
         "Проверяем компьютер…\n"
         "Скачиваем официальный OpenCode…\n"
         "Подготавливаем подключение…\n"
         "Проверяем сохранённое подключение без повторного входа…\n"
         "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.\n"
         "ready\n"},
        {"locked", "Проверяем компьютер…\n"
                   "Скачиваем официальный OpenCode…\n"
                   "Подготавливаем подключение…\n"
                   "Завершите вход в Орвек в браузере…\n"
                   "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\n"
                   "Код: OPERATION_LOCKED\n"
                   "Этап: helper-setup:exit=75\n"
                   "failed\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        installer::Environment environment = {{"PATH", "/usr/bin:/bin"},
                                              {"ORVEK_SANDBOX_SIGN_IN_SECONDS", "0"}};
        const auto result =
            InstallerCore::run(ORVEK_SANDBOX, {"run", "--scenario", row.scenario}, environment, 60);
        EXPECT_EQ(result.status, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, row.expected);
    }
}

TEST(SandboxRun, ListsScenariosAndRefusesUnknownOnes) {
    const auto list = InstallerCore::run(ORVEK_SANDBOX, {"list"}, std::nullopt, 30);
    EXPECT_EQ(list.status, 0);
    for (const char* name : {"fresh\t", "saved\t", "locked\t"})
        EXPECT_NE(list.standardOutput.find(name), std::string::npos) << name;

    const auto unknown =
        InstallerCore::run(ORVEK_SANDBOX, {"run", "--scenario", "nope"}, std::nullopt, 30);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(InstallerCore::run(ORVEK_SANDBOX, {}, std::nullopt, 30).status, 2);
}

} // namespace
} // namespace orvek
