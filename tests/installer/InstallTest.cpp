#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CallLog.h"
#include "Fixtures.h"
#include "Outcome.h"
#include "SimulatedApp.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PlatformError.h"
#include "base/PlistError.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;
using sandbox::PlistFormat;
using test::kPassed;
using test::outcomeOf;

constexpr const char* kStandIns = ORVEK_SANDBOX_STAND_INS;
constexpr const char* kTeam = "ABCDE12345";
constexpr const char* kImageUrl = "https://downloads.example.com/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kImageName = "OpenCode-2.1.4-arm64.dmg";

constexpr const char* kChecking = "Проверяем компьютер…";
constexpr const char* kDownloading = "Скачиваем официальный OpenCode…";
constexpr const char* kPreparing = "Подготавливаем подключение…";
constexpr const char* kSeveral =
    "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.";
constexpr const char* kIncompatible = "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.";
constexpr const char* kNoPublisher = "Отсутствует проверенный издатель OpenCode.";
constexpr const char* kSignature = "Подпись OpenCode не прошла проверку.";
constexpr const char* kNoComponent = "Отсутствует компонент для этого Mac.";
constexpr const char* kUnsupported = "Неподдерживаемый файл настроек.";
constexpr const char* kInvalidDownload = "Неверные сведения о загрузке.";
constexpr const char* kDamaged =
    "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.";
constexpr const char* kOpenImage = "Не удалось открыть образ OpenCode.";
constexpr const char* kCopy = "Не удалось скопировать OpenCode.";
constexpr const char* kClose = "Закройте OpenCode и повторите действие.";
constexpr const char* kAppeared = "OpenCode уже появился в папке. Повторите проверку.";
constexpr const char* kHelperChanged = "Компонент подключения изменён. Повторите установку.";
constexpr const char* kLink =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

/// Names in `folder` that start with `prefix`; none when the folder is missing.
std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(prefix))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// A user with an empty home folder, a Mac-wide Applications folder beside it, the official
// image behind a curl stand-in, and the helper already in place, so that every run reaches the
// end unless a test changes one of these.
class Install : public ::testing::Test {
protected:
    Install() {
        officialApp = temp / "fixture/official/OpenCode.app";
        writeSignedApp(officialApp);
        sandbox::packImage(officialApp, temp / "fixture/OpenCode.dmg");
        serve(temp / "fixture/OpenCode.dmg");

        temp.write(core().helper().lexically_relative(temp.path()), "#!/bin/sh\nexit 0\n",
                   fs::perms::owner_all);
        writeManifest(manifest());

        for (const char* tool : {"hdiutil", "ditto", "codesign"})
            wrap(tool);
        answerPgrep("exit 1");
    }

    [[nodiscard]] InstallerCore core() const {
        Deployment deployment;
        deployment.pgrep = temp / "bin/pgrep";
        deployment.curl = temp / "bin/curl";
        deployment.hdiutil = temp / "bin/hdiutil";
        deployment.ditto = temp / "bin/ditto";
        deployment.codesign = temp / "bin/codesign";
        deployment.tar = "/usr/bin/tar";
        deployment.systemApplications = temp / "Applications";
        return InstallerCore(temp / "resources", home(), home() / ".config", deployment,
                             std::make_shared<const test::AmpleSpace>());
    }

    [[nodiscard]] fs::path home() const { return temp / "Users/me"; }
    [[nodiscard]] fs::path target() const { return home() / "Applications/OpenCode.app"; }
    [[nodiscard]] fs::path systemApp() const { return temp / "Applications/OpenCode.app"; }
    [[nodiscard]] fs::path cachedImage() const { return core().root() / "downloads" / kImageName; }
    [[nodiscard]] fs::path desktopState() const {
        return core().desktopData() / "opencode.global.dat";
    }

    [[nodiscard]] JsonValue manifest() const {
        return {{"desktopTeamID", kTeam},
                {"arm64", {{"url", kImageUrl}, {"sha256", base::hashFile(imagePath)}}},
                {"cli-arm64",
                 {{"url", "https://downloads.example.com/orvek-0.1.10-arm64.tar.gz"},
                  {"sha256", Deployment().helperArchiveHash},
                  {"binarySha256", base::hashFile(core().helper())}}}};
    }
    void writeManifest(const JsonValue& value) const {
        temp.write("resources/payloads.json", value.dump());
    }

    void writeSignedApp(const fs::path& app,
                        const std::map<std::string, std::string>& info = sandbox::openCodeInfo(),
                        const std::string& team = kTeam) const {
        sandbox::writeApp(app, sandbox::infoPlist(info, PlistFormat::xml));
        sandbox::signApp(kStandIns, app, team);
    }

    // The curl stand-in: notes its arguments and writes `source` to the path after --output.
    void serve(const fs::path& source) {
        imagePath = source;
        (void)temp.script("bin/curl", logLine("curl") +
                                          "out=''\nprev=''\nfor a in \"$@\"; do\n"
                                          "  if [ \"$prev\" = --output ]; then out=$a; fi\n"
                                          "  prev=$a\ndone\ncat " +
                                          quoted(source) + " > \"$out\"");
    }

    // The sandbox's stand-in behind a script that notes each call, with room for a test's own
    // steps before the tool runs and after it succeeded.
    void wrap(const std::string& tool, const std::string& before = "",
              const std::string& after = "") const {
        (void)temp.script("bin/" + tool, logLine(tool) + before + "\n" +
                                             quoted(fs::path(kStandIns) / tool) +
                                             " \"$@\" || exit $?\n" + after);
    }
    void answerPgrep(const std::string& body) const {
        (void)temp.script("bin/pgrep", logLine("pgrep") + body);
    }

    /// The calls of a stand-in, each as its argument list.
    [[nodiscard]] std::vector<std::vector<std::string>> calls(const std::string& tool) const {
        return test::readCallLog(temp / "log" / tool);
    }

    [[nodiscard]] std::vector<std::string> run(InstallerCore& engine, std::string& outcome) const {
        std::vector<std::string> texts;
        outcome = outcomeOf(
            [&] { engine.install([&texts](const std::string& text) { texts.push_back(text); }); });
        return texts;
    }

    /// What a failed run must never leave: a mount point or a half-placed copy.
    void expectNoLeftovers() const {
        EXPECT_EQ(namesStartingWith(core().root(), "mount-"), std::vector<std::string>{});
        EXPECT_EQ(namesStartingWith(home() / "Applications", ".orvek-install-"),
                  std::vector<std::string>{});
    }
    /// Every attach was followed by a detach of the same mount point.
    void expectDetached() const {
        std::vector<std::string> attached;
        std::vector<std::string> detached;
        for (const auto& call : calls("hdiutil")) {
            if (call.size() == 6 && call[0] == "attach")
                attached.push_back(call[4]);
            else if (call.size() == 2 && call[0] == "detach")
                detached.push_back(call[1]);
        }
        EXPECT_EQ(detached, attached);
    }

    test::TempHome temp;
    fs::path officialApp;
    fs::path imagePath;

private:
    [[nodiscard]] std::string logLine(const std::string& tool) const {
        return test::callLogLines(temp / "log" / tool);
    }
};

TEST_F(Install, InstallsTheOfficialBuildIntoTheUsersOwnApplications) {
    auto engine = core();
    std::string outcome;
    const auto texts = run(engine, outcome);

    ASSERT_EQ(outcome, kPassed);
    EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kDownloading, kPreparing}));
    EXPECT_EQ(engine.installedApp(), target());
    EXPECT_EQ(test::snapshot(target()), test::snapshot(officialApp));
    EXPECT_FALSE(fs::exists(systemApp()));
    EXPECT_EQ(test::slurp(cachedImage()), test::slurp(imagePath));
    EXPECT_TRUE(fs::exists(desktopState()));
    expectNoLeftovers();
    expectDetached();
    EXPECT_EQ(calls("curl").size(), 1U);
    // Checked on the image and again as the copy, before it takes the final name.
    EXPECT_EQ(calls("codesign").size(), 2U);
}

TEST_F(Install, UsesAnAcceptedOpenCodeWhereverItIsFound) {
    struct Row {
        const char* name;
        fs::path app;
    };
    const Row rows[] = {
        {"the user's Applications", target()},
        {"the Mac's Applications", systemApp()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeSignedApp(row.app);
        const auto before = test::snapshot(row.app);

        auto engine = core();
        std::string outcome;
        const auto texts = run(engine, outcome);

        EXPECT_EQ(outcome, kPassed);
        EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kPreparing}));
        EXPECT_EQ(engine.installedApp(), row.app);
        EXPECT_EQ(test::snapshot(row.app), before);
        EXPECT_TRUE(fs::exists(desktopState()));
        EXPECT_TRUE(calls("curl").empty());
        EXPECT_TRUE(calls("hdiutil").empty());
        EXPECT_FALSE(fs::exists(cachedImage()));
        fs::remove_all(row.app);
        fs::remove_all(core().desktopData());
    }
    EXPECT_FALSE(fs::exists(target()));
}

TEST_F(Install, ASecondRunKeepsTheInstalledAppAndNeedsNoDownload) {
    auto first = core();
    std::string outcome;
    (void)run(first, outcome);
    ASSERT_EQ(outcome, kPassed);
    const auto installed = test::snapshot(target());

    auto second = core();
    const auto texts = run(second, outcome);
    EXPECT_EQ(outcome, kPassed);
    EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kPreparing}));
    EXPECT_EQ(second.installedApp(), target());
    EXPECT_EQ(test::snapshot(target()), installed);
    EXPECT_EQ(calls("curl").size(), 1U);
}

// One engine serves every retry of a session: an application found by an earlier run is not
// trusted to be there still.
TEST_F(Install, ARetryAfterOpenCodeWasRemovedInstallsAgain) {
    writeSignedApp(systemApp());
    auto engine = core();
    std::string outcome;
    (void)run(engine, outcome);
    ASSERT_EQ(outcome, kPassed);
    ASSERT_EQ(engine.installedApp(), systemApp());

    fs::remove_all(systemApp());
    const auto texts = run(engine, outcome);
    EXPECT_EQ(outcome, kPassed);
    EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kDownloading, kPreparing}));
    EXPECT_EQ(engine.installedApp(), target());
    EXPECT_EQ(test::snapshot(target()), test::snapshot(officialApp));
    EXPECT_EQ(calls("curl").size(), 1U);
}

TEST_F(Install, RefusesTwoInstallationsBeforeLookingAtEither) {
    // Neither would pass verification; the count alone must decide.
    sandbox::writeApp(target(), "not a property list");
    sandbox::writeApp(systemApp(), "not a property list");

    auto engine = core();
    std::string outcome;
    const auto texts = run(engine, outcome);

    EXPECT_EQ(outcome, kSeveral);
    EXPECT_EQ(texts, std::vector<std::string>{kChecking});
    EXPECT_EQ(engine.installedApp(), std::nullopt);
    EXPECT_TRUE(calls("codesign").empty());
    EXPECT_TRUE(calls("curl").empty());
    EXPECT_FALSE(fs::exists(core().desktopData()));
}

TEST_F(Install, ChecksTheMacBeforeLookingForOpenCode) {
    writeSignedApp(target());
    writeSignedApp(systemApp());
    answerPgrep("exit 0");

    auto engine = core();
    std::string outcome;
    const auto texts = run(engine, outcome);

    EXPECT_EQ(outcome, kClose);
    EXPECT_EQ(texts, std::vector<std::string>{kChecking});
}

TEST_F(Install, ReportsAFoundButUnacceptableOpenCodeAndNeverReplacesIt) {
    auto older = sandbox::openCodeInfo();
    older["CFBundleShortVersionString"] = "2.1.3";
    auto foreign = sandbox::openCodeInfo();
    foreign["CFBundleIdentifier"] = "ai.opencode.desktop.beta";
    struct Row {
        const char* name;
        fs::path app;
        std::function<void()> place;
        std::string message;
    };
    const Row rows[] = {
        {"2.1.3 in the Mac's Applications", systemApp(),
         [&] { writeSignedApp(systemApp(), older); }, kIncompatible},
        {"another bundle identifier", target(), [&] { writeSignedApp(target(), foreign); },
         kIncompatible},
        {"changed after signing", target(),
         [&] {
             writeSignedApp(target());
             temp.write((target() / "Contents/MacOS/OpenCode").lexically_relative(temp.path()),
                        "#!/bin/sh\necho patched\n", fs::perms::owner_all);
         },
         kSignature},
        {"signed by another team", systemApp(),
         [&] { writeSignedApp(systemApp(), sandbox::openCodeInfo(), "ZZZZZ99999"); }, kSignature},
        {"a link to an accepted build", target(),
         [&] {
             fs::create_directories(target().parent_path());
             fs::create_symlink(officialApp, target());
         },
         kLink},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.place();
        const auto before = test::snapshot(row.app);

        auto engine = core();
        std::string outcome;
        const auto texts = run(engine, outcome);

        EXPECT_EQ(outcome, row.message);
        EXPECT_EQ(texts, std::vector<std::string>{kChecking});
        EXPECT_EQ(engine.installedApp(), std::nullopt);
        EXPECT_EQ(test::snapshot(row.app), before);
        EXPECT_TRUE(calls("curl").empty());
        EXPECT_TRUE(calls("hdiutil").empty());
        EXPECT_FALSE(fs::exists(core().desktopData()));
        fs::remove_all(row.app);
        fs::remove_all(temp / "log");
    }
}

TEST_F(Install, GoesOnWhenOpenCodeDesktopDataIsAlreadyInUse) {
    writeSignedApp(target());
    temp.write((core().desktopData() / "drafts.sqlite").lexically_relative(temp.path()), "data");

    auto engine = core();
    std::string outcome;
    (void)run(engine, outcome);

    EXPECT_EQ(outcome, kPassed);
    EXPECT_FALSE(fs::exists(desktopState()));
    EXPECT_EQ(test::slurp(core().desktopData() / "drafts.sqlite"), "data");
}

TEST_F(Install, NeedsAComponentForThisMacInTheManifest) {
    struct Row {
        const char* name;
        std::function<void(JsonValue&)> change;
        std::string message;
    };
    const Row rows[] = {
        {"no arm64 entry", [](JsonValue& m) { m.erase("arm64"); }, kNoComponent},
        {"arm64 is text", [](JsonValue& m) { m["arm64"] = kImageUrl; }, kNoComponent},
        {"a number inside arm64", [](JsonValue& m) { m["arm64"]["size"] = 123456; }, kNoComponent},
        {"no url", [](JsonValue& m) { m["arm64"].erase("url"); }, kNoComponent},
        {"no sha256", [](JsonValue& m) { m["arm64"].erase("sha256"); }, kNoComponent},
        {"url is a number", [](JsonValue& m) { m["arm64"]["url"] = 443; }, kNoComponent},
        {"plain http address", [](JsonValue& m) { m["arm64"]["url"] = "http://example.com/a.dmg"; },
         kInvalidDownload},
        {"upper-case hash",
         [](JsonValue& m) {
             auto hash = m["arm64"]["sha256"].get<std::string>();
             std::transform(hash.begin(), hash.end(), hash.begin(),
                            [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
             m["arm64"]["sha256"] = hash;
         },
         kInvalidDownload},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto changed = manifest();
        row.change(changed);
        writeManifest(changed);

        auto engine = core();
        std::string outcome;
        const auto texts = run(engine, outcome);

        EXPECT_EQ(outcome, row.message);
        EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kDownloading}));
        EXPECT_TRUE(calls("curl").empty());
        EXPECT_TRUE(calls("hdiutil").empty());
        EXPECT_FALSE(fs::exists(cachedImage()));
        EXPECT_FALSE(fs::exists(target()));
        expectNoLeftovers();
    }
}

TEST_F(Install, PassesManifestDecodingFailuresThrough) {
    struct Row {
        const char* name;
        std::string bytes;
        std::string outcome;
    };
    const Row rows[] = {
        {"not JSON", "{\"arm64\": ", "json"},
        {"an array", "[]", kUnsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        temp.write("resources/payloads.json", row.bytes);
        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);
        EXPECT_EQ(outcome, row.outcome);
        EXPECT_TRUE(calls("curl").empty());
    }
}

TEST_F(Install, ReportsADamagedCachedImageOnEveryRetry) {
    const std::string damaged = test::slurp(imagePath) + "x";
    temp.write(cachedImage().lexically_relative(temp.path()), damaged);
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);
        EXPECT_EQ(outcome, kDamaged);
        EXPECT_EQ(test::slurp(cachedImage()), damaged);
        EXPECT_TRUE(calls("curl").empty());
        EXPECT_TRUE(calls("hdiutil").empty());
        EXPECT_FALSE(fs::exists(target()));
    }
}

TEST_F(Install, AnImageThatCannotBeOpenedLeavesNoMountPoint) {
    temp.write("fixture/not-an-image", "plain bytes, no archive");
    struct Row {
        const char* name;
        std::function<void()> arrange;
    };
    const Row rows[] = {
        {"hdiutil refuses", [&] { wrap("hdiutil", "[ \"$1\" = attach ] && exit 1"); }},
        {"hdiutil fails after mounting part",
         [&] { wrap("hdiutil", "", "[ \"$1\" = attach ] && exit 1\nexit 0"); }},
        {"not a disk image",
         [&] {
             serve(temp / "fixture/not-an-image");
             writeManifest(manifest());
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();

        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);

        EXPECT_EQ(outcome, kOpenImage);
        EXPECT_EQ(engine.installedApp(), std::nullopt);
        EXPECT_FALSE(fs::exists(target()));
        expectNoLeftovers();
        expectDetached();
        EXPECT_TRUE(calls("ditto").empty());
        fs::remove_all(temp / "log");
        fs::remove_all(core().root() / "downloads");
    }
}

TEST_F(Install, ARetryAfterAFailedMountReusesTheVerifiedImage) {
    wrap("hdiutil", "[ \"$1\" = attach ] && exit 1");
    auto engine = core();
    std::string outcome;
    (void)run(engine, outcome);
    ASSERT_EQ(outcome, kOpenImage);

    wrap("hdiutil");
    // The network is gone now; the cached image must be enough.
    (void)temp.script("bin/curl", "exit 6");
    (void)run(engine, outcome);
    EXPECT_EQ(outcome, kPassed);
    EXPECT_EQ(engine.installedApp(), target());
    EXPECT_EQ(test::snapshot(target()), test::snapshot(officialApp));
}

TEST_F(Install, RefusesAForeignAppOnTheImageAndCleansUp) {
    auto older = sandbox::openCodeInfo();
    older["CFBundleShortVersionString"] = "2.1.3";
    struct Row {
        const char* name;
        std::function<void(const fs::path&)> build;
        std::string message;
    };
    const Row rows[] = {
        {"changed after signing",
         [&](const fs::path& app) {
             writeSignedApp(app);
             temp.write((app / "Contents/Resources/extra").lexically_relative(temp.path()), "x");
         },
         kSignature},
        {"signed by another team",
         [&](const fs::path& app) { writeSignedApp(app, sandbox::openCodeInfo(), "ZZZZZ99999"); },
         kSignature},
        {"version 2.1.3", [&](const fs::path& app) { writeSignedApp(app, older); }, kIncompatible},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto app = temp / "fixture" / row.name / "OpenCode.app";
        row.build(app);
        sandbox::packImage(app, temp / "fixture" / row.name / "OpenCode.dmg");
        serve(temp / "fixture" / row.name / "OpenCode.dmg");
        writeManifest(manifest());

        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);

        EXPECT_EQ(outcome, row.message);
        EXPECT_EQ(engine.installedApp(), std::nullopt);
        EXPECT_FALSE(fs::exists(target()));
        EXPECT_TRUE(calls("ditto").empty());
        expectNoLeftovers();
        expectDetached();
        fs::remove_all(temp / "log");
        fs::remove_all(core().root() / "downloads");
    }
}

TEST_F(Install, StopsWhenOpenCodeStartsDuringTheInstall) {
    // Not running at the preflight, running by the time the copy would start.
    const auto count = temp / "pgrep-count";
    answerPgrep("n=$(cat " + quoted(count) + " 2>/dev/null || echo 0)\nn=$((n + 1))\necho $n > " +
                quoted(count) + "\n[ $n -ge 2 ] && exit 0\nexit 1");

    auto engine = core();
    std::string outcome;
    const auto texts = run(engine, outcome);

    EXPECT_EQ(outcome, kClose);
    EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kDownloading}));
    EXPECT_EQ(calls("pgrep").size(), 2U);
    EXPECT_TRUE(calls("ditto").empty());
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_EQ(engine.installedApp(), std::nullopt);
    expectNoLeftovers();
    expectDetached();
}

TEST_F(Install, AFailedOrAlteredCopyLeavesNothingBehind) {
    struct Row {
        const char* name;
        std::string before;
        std::string after;
        std::string message;
    };
    const Row rows[] = {
        {"ditto fails halfway", "", "exit 1", kCopy},
        {"ditto cannot start copying", "exit 1", "", kCopy},
        {"the copy differs from the image", "", "printf patched >> \"$2/Contents/MacOS/OpenCode\"",
         kSignature},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        wrap("ditto", row.before, row.after);

        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);

        EXPECT_EQ(outcome, row.message);
        EXPECT_EQ(engine.installedApp(), std::nullopt);
        EXPECT_FALSE(fs::exists(target()));
        expectNoLeftovers();
        expectDetached();
        fs::remove_all(temp / "log");
    }
}

TEST_F(Install, NeverReplacesWhatAppearsAtTheTargetDuringTheCopy) {
    struct Row {
        const char* name;
        std::string appear;
        std::string message;
    };
    const std::string where = quoted(target());
    const Row rows[] = {
        {"a folder", "mkdir " + where + "\nprintf theirs > " + where + "/marker", kAppeared},
        {"a file", "printf theirs > " + where, kAppeared},
        {"a link", "ln -s " + quoted(officialApp) + " " + where, kLink},
        {"a dangling link", "ln -s " + quoted(temp / "nowhere") + " " + where, kLink},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        wrap("ditto", "", row.appear);

        auto engine = core();
        std::string outcome;
        (void)run(engine, outcome);

        EXPECT_EQ(outcome, row.message);
        EXPECT_EQ(engine.installedApp(), std::nullopt);
        ASSERT_EQ(calls("ditto").size(), 1U);
        if (fs::is_symlink(target()))
            EXPECT_TRUE(fs::is_symlink(target()));
        else if (fs::is_directory(target()))
            EXPECT_EQ(test::slurp(target() / "marker"), "theirs");
        else
            EXPECT_EQ(test::slurp(target()), "theirs");
        expectNoLeftovers();
        expectDetached();
        fs::remove_all(target());
        fs::remove_all(temp / "log");
    }
}

TEST_F(Install, AChangedHelperEndsTheRunAfterOpenCodeIsInPlace) {
    temp.write(core().helper().lexically_relative(temp.path()), "#!/bin/sh\necho other\n",
               fs::perms::owner_all);

    auto engine = core();
    std::string outcome;
    const auto texts = run(engine, outcome);

    EXPECT_EQ(outcome, kHelperChanged);
    EXPECT_EQ(texts, (std::vector<std::string>{kChecking, kDownloading, kPreparing}));
    EXPECT_EQ(engine.installedApp(), target());
    EXPECT_EQ(test::snapshot(target()), test::snapshot(officialApp));
    expectNoLeftovers();
}

// verifyApp on its own, with the same stand-ins.
class VerifyApp : public Install {
protected:
    [[nodiscard]] std::string verify(const fs::path& app) const {
        return outcomeOf([&] { core().verifyApp(app); });
    }
    void writeApp(const std::string& infoPlist, const std::string& team = kTeam) const {
        fs::remove_all(systemApp());
        sandbox::writeApp(systemApp(), infoPlist);
        sandbox::signApp(kStandIns, systemApp(), team);
    }
};

std::string xmlPlist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

TEST_F(VerifyApp, AcceptsOnlyVersion214OfTheDesktopBundle) {
    const auto with = [](const char* key, const char* value) {
        auto info = sandbox::openCodeInfo();
        info[key] = value;
        return sandbox::infoPlist(info, PlistFormat::xml);
    };
    const auto without = [](const char* key) {
        auto info = sandbox::openCodeInfo();
        info.erase(key);
        return sandbox::infoPlist(info, PlistFormat::binary);
    };
    struct Row {
        const char* name;
        std::string infoPlist;
        std::string outcome;
    };
    const Row rows[] = {
        {"XML", sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::xml), kPassed},
        {"binary", sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::binary), kPassed},
        {"only the two keys",
         xmlPlist("<dict><key>CFBundleIdentifier</key><string>ai.opencode.desktop</string>"
                  "<key>CFBundleShortVersionString</key><string>2.1.4</string></dict>"),
         kPassed},
        {"2.1.3", with("CFBundleShortVersionString", "2.1.3"), kIncompatible},
        {"2.1.40", with("CFBundleShortVersionString", "2.1.40"), kIncompatible},
        {"2.1.4 with a space", with("CFBundleShortVersionString", "2.1.4 "), kIncompatible},
        {"another identifier", with("CFBundleIdentifier", "ai.opencode.desktop.dev"),
         kIncompatible},
        {"identifier in upper case", with("CFBundleIdentifier", "AI.OPENCODE.DESKTOP"),
         kIncompatible},
        {"no version", without("CFBundleShortVersionString"), kIncompatible},
        {"no identifier", without("CFBundleIdentifier"), kIncompatible},
        {"version as a number",
         xmlPlist("<dict><key>CFBundleIdentifier</key><string>ai.opencode.desktop</string>"
                  "<key>CFBundleShortVersionString</key><real>2.14</real></dict>"),
         kIncompatible},
        {"identifier in an array",
         xmlPlist("<dict><key>CFBundleIdentifier</key><array><string>ai.opencode.desktop"
                  "</string></array><key>CFBundleShortVersionString</key><string>2.1.4</string>"
                  "</dict>"),
         kIncompatible},
        {"an array at the top",
         xmlPlist("<array><string>ai.opencode.desktop</string><string>2.1.4</string></array>"),
         kIncompatible},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeApp(row.infoPlist);
        EXPECT_EQ(verify(systemApp()), row.outcome);
    }
}

TEST_F(VerifyApp, ReportsAnInfoPlistThatCannotBeRead) {
    const auto binary = sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::binary);
    const auto info = systemApp() / "Contents/Info.plist";
    struct Row {
        const char* name;
        std::string bytes;
        std::string outcome;
    };
    const Row rows[] = {
        {"plain text", "CFBundleShortVersionString = 2.1.4", "plist " + info.string()},
        {"unclosed XML", xmlPlist("<dict><key>CFBundleIdentifier</key><string>ai"),
         "plist " + info.string()},
        {"cut binary", binary.substr(0, binary.size() - 12), "plist " + info.string()},
        {"empty", "", "plist " + info.string()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeApp(row.bytes);
        EXPECT_EQ(verify(systemApp()), row.outcome);
        EXPECT_TRUE(calls("codesign").empty());
    }

    try {
        core().verifyApp(systemApp());
        ADD_FAILURE() << "expected a base::PlistError";
    } catch (const base::PlistError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Не удалось прочитать Info.plist «" + info.string() + "»: файл повреждён.");
    }

    fs::remove(info);
    EXPECT_EQ(verify(systemApp()), "errno " + std::to_string(ENOENT) + " at " + info.string());
}

TEST_F(VerifyApp, RefusesLinksOnTheWayToInfoPlist) {
    struct Row {
        const char* name;
        std::function<void()> arrange;
    };
    const Row rows[] = {
        {"the bundle", [&] { fs::create_symlink(officialApp, systemApp()); }},
        {"Contents",
         [&] {
             fs::create_directories(systemApp());
             fs::create_symlink(officialApp / "Contents", systemApp() / "Contents");
         }},
        {"Info.plist",
         [&] {
             fs::create_directories(systemApp() / "Contents");
             fs::create_symlink(officialApp / "Contents/Info.plist",
                                systemApp() / "Contents/Info.plist");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::create_directories(systemApp().parent_path());
        row.arrange();
        EXPECT_EQ(verify(systemApp()), kLink);
        EXPECT_TRUE(calls("codesign").empty());
        fs::remove_all(systemApp());
    }
}

TEST_F(VerifyApp, NeedsAVerifiedPublisherBeforeRunningCodesign) {
    struct Row {
        const char* name;
        JsonValue team;
    };
    const Row rows[] = {
        {"9 characters", "ABCDE1234"}, {"11 characters", "ABCDE123456"},
        {"lower case", "abcde12345"},  {"one lower-case letter", "ABCDe12345"},
        {"a space", "ABCDE 2345"},     {"a quote", "ABCDE\"2345"},
        {"a number", 1234567890},      {"null", nullptr},
    };
    writeApp(sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::xml));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto changed = manifest();
        changed["desktopTeamID"] = row.team;
        writeManifest(changed);
        EXPECT_EQ(verify(systemApp()), kNoPublisher);
        EXPECT_TRUE(calls("codesign").empty());
    }

    auto missing = manifest();
    missing.erase("desktopTeamID");
    writeManifest(missing);
    EXPECT_EQ(verify(systemApp()), kNoPublisher);
    EXPECT_TRUE(calls("codesign").empty());
}

TEST_F(VerifyApp, AsksCodesignForTheManifestsTeam) {
    writeApp(sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::xml), "Q1W2E3R4T5");
    auto changed = manifest();
    changed["desktopTeamID"] = "Q1W2E3R4T5";
    writeManifest(changed);

    EXPECT_EQ(verify(systemApp()), kPassed);
    const std::vector<std::vector<std::string>> expected = {
        {"--verify", "--deep", "--strict", "-R",
         "=anchor apple generic and certificate leaf[subject.OU] = \"Q1W2E3R4T5\"",
         systemApp().string()}};
    EXPECT_EQ(calls("codesign"), expected);
}

TEST_F(VerifyApp, RefusesABundleItsSignatureNoLongerCovers) {
    const auto relative = [&](const char* inside) {
        return (systemApp() / inside).lexically_relative(temp.path());
    };
    struct Row {
        const char* name;
        std::function<void()> change;
    };
    const Row rows[] = {
        {"executable changed",
         [&] { temp.write(relative("Contents/MacOS/OpenCode"), "#!/bin/sh\nexit 1\n"); }},
        {"file added", [&] { temp.write(relative("Contents/Resources/patch.js"), "x"); }},
        {"resource removed", [&] { fs::remove(systemApp() / "Contents/Resources/app.asar"); }},
        {"unsigned", [&] { fs::remove_all(systemApp() / "Contents/_CodeSignature"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeApp(sandbox::infoPlist(sandbox::openCodeInfo(), PlistFormat::xml));
        ASSERT_EQ(verify(systemApp()), kPassed);
        row.change();
        EXPECT_EQ(verify(systemApp()), kSignature);
    }
}

} // namespace
} // namespace orvek::installer
