// Every scenario of the simulated Mac, run through the sandbox's command line as a user would
// watch it: the real setup model, the default services, the stand-in tools and helper, and the
// loopback service.

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/ProcessRunner.h"
#include "installer/InstallerCore.h"

namespace orvek {
namespace {

namespace fs = std::filesystem;
using installer::InstallerCore;

constexpr const char* kChecking = "Проверяем компьютер…\n";
constexpr const char* kDownloading = "Скачиваем официальный OpenCode…\n";
constexpr const char* kPreparing = "Подготавливаем подключение…\n";
constexpr const char* kSignIn = "Завершите вход в Орвек в браузере…\n";
constexpr const char* kConfirming = "Проверяем подключение…\n";
constexpr const char* kSaved = "Проверяем сохранённое подключение без повторного входа…\n";
constexpr const char* kReady =
    "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.\nready\n";
constexpr const char* kCheckFailed =
    "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.\nfailed\n";

struct Row {
    const char* scenario;
    std::string expected;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.scenario;
}

std::string lines(std::initializer_list<const char*> parts) {
    std::string text;
    for (const char* part : parts)
        text += part;
    return text;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> kRows = {
        {"fresh", lines({kChecking, kDownloading, kPreparing, kSignIn, kConfirming, kReady})},
        {"installed", lines({kChecking, kPreparing, kSignIn, kConfirming, kReady})},
        {"saved", lines({kChecking, kDownloading, kPreparing, kSaved, kReady})},
        {"revoked",
         lines(
             {kChecking, kDownloading, kPreparing,
              "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.\nfailed\n"})},
        {"key-refused", lines({kChecking, kDownloading, kPreparing, kSaved, kCheckFailed})},
        {"redirect", lines({kChecking, kDownloading, kPreparing, kSaved, kCheckFailed})},
        {"catalogue-incomplete",
         lines({kChecking, kDownloading, kPreparing, kSaved,
                "В каталоге недоступен выбранный набор моделей. Настройки сохранены.\nfailed\n"})},
        {"locked",
         lines({kChecking, kDownloading, kPreparing, kSignIn,
                "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\n",
                "Код: OPERATION_LOCKED\nЭтап: helper-setup:exit=75\nfailed\n"})},
        {"opened-during-sign-in", lines({kChecking, kDownloading, kPreparing, kSignIn, kConfirming,
                                         "Закройте OpenCode и повторите действие.\nfailed\nretry\n",
                                         kChecking, kPreparing, kSaved, kReady})},
        {"two-installations",
         lines(
             {kChecking,
              "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.\nfailed\n"})},
        {"version-2.1.3",
         lines(
             {kChecking, "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.\nfailed\n"})},
        {"damaged-cache",
         lines(
             {kChecking, kDownloading,
              "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.\nfailed\n"})},
        {"unconfirmed-settings",
         lines(
             {kChecking, kDownloading, kPreparing,
              "Найдены существующие настройки без подтверждённого статуса. Они сохранены; требуется отдельная проверка доступа.\nfailed\n"})},
    };
    return kRows;
}

base::ProcessResult sandbox(const std::vector<std::string>& arguments) {
    return base::run(ORVEK_SANDBOX, arguments, std::nullopt, 300);
}

class SandboxScenario : public ::testing::TestWithParam<Row> {};

TEST_P(SandboxScenario, EndsAsTheUserShouldSeeIt) {
    const test::TempHome home;
    const auto result =
        sandbox({"run", "--scenario", GetParam().scenario, "--home", home.path().string()});
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, GetParam().expected);

    // The settings the helper saved are only ever patched by a successful check, with a backup.
    const auto config = home / ".config/opencode";
    const bool reused = GetParam().expected.find(kSaved) != std::string::npos &&
                        GetParam().expected.ends_with("ready\n");
    if (fs::exists(config / "opencode.jsonc") && !reused) {
        for (const auto& entry : fs::directory_iterator(config))
            EXPECT_EQ(entry.path().filename().string().find("orvek-backup"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(AllScenarios, SandboxScenario, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name = info.param.scenario;
                             for (auto& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// The skills step after a ready run: what the sheet's status line says, in order, and that the
// scenario's own look at the disk (the user's files kept byte for byte) passed.
struct SkillsRow {
    const char* scenario;
    std::vector<std::string> skills;
};

void PrintTo(const SkillsRow& row, std::ostream* out) {
    *out << row.scenario;
}

constexpr const char* kNothingChosen =
    "Ничего не выбрано. Можно пропустить и добавить навыки позже.";
constexpr const char* kAdding = "Добавляем выбранные навыки…";
constexpr const char* kSkillsReady =
    "Выбранные навыки готовы. Уже добавленные файлы сохранены. Перезапустите OpenCode.";

const std::vector<SkillsRow>& skillsRows() {
    static const std::vector<SkillsRow> kRows = {
        {"skills-all-roles", {kNothingChosen, kAdding, kSkillsReady}},
        {"skills-occupied-folder",
         {kNothingChosen, kAdding,
          "Рабочая папка занята. Выберите другую папку; существующие файлы сохранены. OpenCode уже готов. Повторите только навыки.",
          "another folder: Проекты", kAdding, kSkillsReady}},
        {"skills-adopted-workspace", {kNothingChosen, kAdding, kSkillsReady}},
        {"skills-edited-skill",
         {kNothingChosen, kAdding,
          "Ранее установленный глобальный навык изменён. Файлы сохранены. OpenCode уже готов. Повторите только навыки."}},
        {"skills-user-instructions", {kNothingChosen, kAdding, kSkillsReady}},
        {"skills-interrupted", {kNothingChosen, kAdding, kSkillsReady}},
    };
    return kRows;
}

class SandboxSkills : public ::testing::TestWithParam<SkillsRow> {};

TEST_P(SandboxSkills, EndsAsTheUserShouldSeeIt) {
    const test::TempHome home;
    const auto result = sandbox(
        {"run", "--scenario", GetParam().scenario, "--home", home.path().string(), "--cached"});
    EXPECT_EQ(result.status, 0) << result.standardError;
    std::vector<std::string> skills;
    std::istringstream out(result.standardOutput);
    for (std::string line; std::getline(out, line);)
        if (line.starts_with("skills: "))
            skills.push_back(line.substr(std::string_view("skills: ").size()));
    EXPECT_EQ(skills, GetParam().skills);
    EXPECT_NE(result.standardOutput.find("\nready\n"), std::string::npos);
    const bool succeeded = GetParam().skills.back() == kSkillsReady;
    EXPECT_TRUE(
        result.standardOutput.ends_with(succeeded ? "\nskills ready\n" : "\nskills failed\n"))
        << result.standardOutput;
}

INSTANTIATE_TEST_SUITE_P(SkillsScenarios, SandboxSkills, ::testing::ValuesIn(skillsRows()),
                         [](const ::testing::TestParamInfo<SkillsRow>& info) {
                             std::string name = info.param.scenario;
                             for (auto& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Roles from the command line continue any ready run into the skills step.
TEST(SandboxRun, RolesFromTheCommandLineAreInstalledInTableOrder) {
    const test::TempHome home;
    const auto result = sandbox({"run", "--scenario", "fresh", "--home", home.path().string(),
                                 "--cached", "--roles", "video,developer"});
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_TRUE(result.standardOutput.ends_with("skills ready\n")) << result.standardOutput;
    EXPECT_TRUE(fs::exists(home / "Movies/Orvek Studio/.opencode/opencode.jsonc"));
    EXPECT_TRUE(fs::exists(home / "Documents/Orvek Workspaces/developer/AGENTS.md"));
    EXPECT_FALSE(fs::exists(home / "Documents/Orvek Workspaces/analyst"));
}

// A slow service: the window's bar follows both downloads from the growth of their files (sizes
// from the manifest), each ends before the next status, and the status texts are the usual ones.
TEST(SandboxRun, ASlowDownloadShowsItsProgressBesideTheUnchangedTexts) {
    const auto result = sandbox({"run", "--scenario", "fresh", "--slow"});
    ASSERT_EQ(result.status, 0) << result.standardError;

    std::string statuses;
    std::vector<std::vector<std::pair<std::uint64_t, std::string>>> downloads(1);
    std::istringstream lines(result.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        if (line == "download: done") {
            downloads.emplace_back();
            continue;
        }
        std::uint64_t received = 0;
        char expected[32] = {};
        if (std::sscanf(line.c_str(), "download: %" SCNu64 " of %31s bytes", &received, expected) ==
            2) {
            downloads.back().emplace_back(received, expected);
            continue;
        }
        statuses += line + "\n";
    }
    EXPECT_EQ(statuses, rows().front().expected) << "the same texts as a run at full speed";
    downloads.pop_back();
    ASSERT_EQ(downloads.size(), 2U) << result.standardOutput << "the image, then the helper";
    for (const auto& download : downloads) {
        ASSERT_GE(download.size(), 3U) << result.standardOutput;
        EXPECT_EQ(download.front().first, 0U);
        const auto& size = download.front().second;
        EXPECT_NE(size, "?") << "the manifest gives each payload's size";
        for (std::size_t i = 1; i < download.size(); ++i) {
            EXPECT_GT(download[i].first, download[i - 1].first);
            EXPECT_EQ(download[i].second, size);
            EXPECT_LE(download[i].first, std::stoull(size));
        }
    }
}

// The saved connection is patched in place: the default model and the two missing models change,
// every other byte stays, and the key file is never touched.
TEST(SandboxRun, ReusePatchesTheSavedSettingsInPlace) {
    const test::TempHome home;
    ASSERT_EQ(sandbox({"run", "--scenario", "saved", "--home", home.path().string()}).status, 0);
    const auto config = home / ".config/opencode";
    const auto patched = test::slurp(config / "opencode.jsonc");
    fs::path backup;
    for (const auto& entry : fs::directory_iterator(config))
        if (entry.path().filename().string().starts_with("opencode.jsonc.orvek-backup-"))
            backup = entry.path();
    ASSERT_FALSE(backup.empty());
    auto expected = test::slurp(backup);
    expected.replace(expected.find("\"orvek/claude-sonnet-4\""), 23, R"("orvek\/claude-opus-5")");
    const auto close = expected.find("}\n      },\n      \"name\": \"Orvek\"");
    ASSERT_NE(close, std::string::npos);
    expected.insert(
        close + 2 + 6,
        R"(,"gpt-6-astra":{"name":"gpt-6-astra"},"gpt-6.1-sol":{"name":"gpt-6.1-sol"})");
    EXPECT_EQ(patched, expected);
    EXPECT_EQ(test::slurp(config / "orvek-api-key"), "sk-orvek-sandbox-7Hq2vXw9\n");
    EXPECT_FALSE(fs::exists(config / "opencode.json"));
}

TEST(SandboxRun, AFreshRunLeavesTheHelpersSettingsAndTheWizardsPreset) {
    const test::TempHome home;
    ASSERT_EQ(sandbox({"run", "--scenario", "fresh", "--home", home.path().string()}).status, 0);
    const auto config = home / ".config/opencode";
    EXPECT_EQ(test::slurp(config / "opencode.json"),
              test::slurp(config / "opencode.json.orvek-preset-owned"));
    EXPECT_TRUE(fs::exists(config / "opencode.jsonc"));
    EXPECT_TRUE(fs::exists(home / "Applications/OpenCode.app/Contents/Info.plist"));
    EXPECT_TRUE(
        fs::exists(home / "Library/Application Support/ai.opencode.desktop/opencode.global.dat"));
}

#if defined(ORVEK_SANDBOX_WINDOW)
// Width and height from a PNG's header chunk.
std::pair<unsigned, unsigned> pngSize(const std::string& bytes) {
    const auto number = [&bytes](std::size_t at) {
        unsigned value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
        return value;
    };
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    return {number(16), number(20)};
}

// The real window, drawn at each state a fresh run passes through, without any display.
TEST(SandboxRun, TheWindowCanBeWatchedThroughAWholeRun) {
    const test::TempHome screens;
    const auto result = base::run(
        ORVEK_SANDBOX, {"gui", "--scenario", "fresh", "--screens", screens.path().string()},
        base::Environment{{"PATH", "/usr/bin:/bin"}, {"QT_QPA_PLATFORM", "offscreen"}}, 300);
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_TRUE(result.standardOutput.ends_with("ready\n"));

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(screens.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "01-welcome.png");
    EXPECT_TRUE(names.back().ends_with("-ready.png"));
    for (const auto& name : names)
        EXPECT_EQ(pngSize(test::slurp(screens / name)), std::make_pair(820u, 650u)) << name;
}
#endif

TEST(SandboxRun, ListsScenariosAndRefusesUnknownOnes) {
    const auto list = sandbox({"list"});
    EXPECT_EQ(list.status, 0);
    std::string expected;
    for (const auto& row : rows())
        EXPECT_NE(list.standardOutput.find(std::string(row.scenario) + "\t"), std::string::npos)
            << row.scenario;
    for (const auto& row : skillsRows())
        EXPECT_NE(list.standardOutput.find(std::string(row.scenario) + "\t"), std::string::npos)
            << row.scenario;
    EXPECT_EQ(sandbox({"run", "--scenario", "nope"}).status, 2);
    EXPECT_EQ(sandbox({}).status, 2);
    EXPECT_EQ(sandbox({"run"}).status, 2);
}

} // namespace
} // namespace orvek
