// The first half of the main run on the simulated Mac: the real curl fetches from a loopback
// HTTPS service, the real tar unpacks the helper, and the sandbox's hdiutil, ditto and codesign
// stand in for the macOS tools.

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConfigurationOverrides.h"
#include "Fixtures.h"
#include "SandboxServer.h"
#include "ScopedEnvironment.h"
#include "SimulatedApp.h"
#include "TempHome.h"
#include "TestCertificateAuthority.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "installer/InstallerCore.h"

namespace orvek::sandbox {
namespace {

namespace fs = std::filesystem;
using base::FileManager;
using base::InstallerFailure;
using base::JsonValue;
using installer::Deployment;
using installer::InstallerCore;

constexpr const char* kTeam = "ORVEKTEST1";
constexpr const char* kImagePath = "/downloads/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kArchivePath = "/downloads/orvek-0.1.10-arm64.tar.gz";
const std::vector<std::string> kFreshTexts = {
    "Проверяем компьютер…", "Скачиваем официальный OpenCode…", "Подготавливаем подключение…"};

// Clears the variables the wizard refuses to run under, and puts them back afterwards.
class CleanEnvironment {
public:
    CleanEnvironment() { test::clearConfigurationOverrides(m_environment); }

private:
    test::ScopedEnvironment m_environment;
};

// A real process named exactly "OpenCode", ended with the test.
class RunningOpenCode {
public:
    explicit RunningOpenCode(const fs::path& folder) {
        const auto program = folder / "OpenCode";
        fs::copy_file("/bin/sleep", program);
        std::string path = program.string();
        std::string seconds = "60";
        char* argv[] = {path.data(), seconds.data(), nullptr};
        if (::posix_spawn(&m_pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            m_pid = -1;
    }
    ~RunningOpenCode() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    RunningOpenCode(const RunningOpenCode&) = delete;
    RunningOpenCode& operator=(const RunningOpenCode&) = delete;

private:
    pid_t m_pid = -1;
};

class SandboxInstall : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(work / "certificates");
        server = std::make_unique<SandboxServer>(authority.writeTo(work / "certificates"));
        fs::create_directories(home.path());
        fs::create_directories(systemApplications());

        // A signed OpenCode 2.1.4 image and a helper archive with its one executable.
        buildImage(work / "good.dmg", sandbox::openCodeInfo(), kTeam);
        fs::create_directories(work / "helper");
        writeFile(work / "helper/orvek", "#!/bin/sh\necho orvek\n");
        packHelper(work / "helper", {"orvek"}, work / "orvek.tar.gz");
        serveImage(work / "good.dmg");
        serveHelper(work / "orvek.tar.gz");
    }

    fs::path systemApplications() const { return work / "Applications"; }

    static void writeFile(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << path;
    }

    void buildImage(const fs::path& image, const std::map<std::string, std::string>& info,
                    const std::string& team) const {
        const auto staging = work / ("app-" + image.stem().string());
        fs::create_directories(staging);
        const auto app = staging / "OpenCode.app";
        sandbox::writeApp(app, sandbox::infoPlist(info, sandbox::PlistFormat::xml));
        sandbox::signApp(ORVEK_SANDBOX_STAND_INS, app, team);
        sandbox::packImage(app, image);
    }

    static void packHelper(const fs::path& folder, const std::vector<std::string>& entries,
                           const fs::path& archive) {
        std::vector<std::string> arguments = {"-C", folder.string(), "-czf", archive.string()};
        arguments.insert(arguments.end(), entries.begin(), entries.end());
        const auto result = base::run("/usr/bin/tar", arguments, std::nullopt, 60);
        ASSERT_EQ(result.status, 0) << result.standardError;
    }

    void serveImage(const fs::path& image) {
        imageHash = base::hashFile(image);
        server->serveFile(kImagePath, image);
    }

    void serveHelper(const fs::path& archive) {
        archiveHash = base::hashFile(archive);
        server->serveFile(kArchivePath, archive);
    }

    // The release's manifest, pointing at the loopback service.
    void writeManifest() const {
        const JsonValue manifest = {
            {"desktopTeamID", kTeam},
            {"arm64", {{"url", server->baseUrl() + kImagePath}, {"sha256", imageHash}}},
            {"cli-arm64",
             {{"url", server->baseUrl() + kArchivePath},
              {"sha256", archiveHash},
              {"binarySha256", base::hashFile(work / "helper/orvek")}}}};
        writeFile(resources() / "payloads.json", manifest.dump());
    }

    fs::path resources() const { return work / "Resources"; }

    InstallerCore core() const {
        Deployment deployment = Deployment::production();
        deployment.curl = "/usr/bin/curl";
        deployment.tar = "/usr/bin/tar";
        deployment.hdiutil = fs::path(ORVEK_SANDBOX_STAND_INS) / "hdiutil";
        deployment.ditto = fs::path(ORVEK_SANDBOX_STAND_INS) / "ditto";
        deployment.codesign = fs::path(ORVEK_SANDBOX_STAND_INS) / "codesign";
        deployment.pgrep = pgrep;
        deployment.systemApplications = systemApplications();
        deployment.helperArchiveHash = archiveHash;
        deployment.extraTrustedCa = work / "certificates/ca.pem";
        return InstallerCore(resources(), home.path(), home.path() / ".config", deployment,
                             std::make_shared<test::AmpleSpace>());
    }

    // Runs install and returns the progress texts; a failure's message is appended last.
    std::vector<std::string> install(InstallerCore& engine) const {
        writeManifest();
        std::vector<std::string> texts;
        try {
            engine.install([&texts](const std::string& text) { texts.push_back(text); });
        } catch (const std::exception& error) {
            texts.emplace_back(error.what());
        }
        return texts;
    }

    // Nothing of a run may stay behind but the verified cache.
    void expectNoLeftovers(const InstallerCore& engine) const {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(engine.root(), ignored)) {
            const auto name = entry.path().filename().string();
            EXPECT_FALSE(name.starts_with("mount-")) << name;
            EXPECT_FALSE(name.starts_with("helper-stage-")) << name;
        }
        for (const auto& entry : fs::directory_iterator(engine.root() / "downloads", ignored))
            EXPECT_NE(entry.path().extension(), ".download") << entry.path();
        for (const auto& entry : fs::directory_iterator(home / "Applications", ignored))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".orvek-install-"));
    }

    CleanEnvironment environment;
    test::TempHome work;
    test::TempHome home;
    TestCertificateAuthority authority;
    std::unique_ptr<SandboxServer> server;
    std::string imageHash;
    std::string archiveHash;
    // The real pgrep, blind to processes other tests start meanwhile.
    fs::path pgrep = work.script("bin/pgrep", "exec /usr/bin/pgrep -P " +
                                                  std::to_string(::getpid()) + " \"$@\"");
};

TEST_F(SandboxInstall, FreshMacGetsOpenCodeAndTheHelper) {
    auto engine = core();
    EXPECT_EQ(install(engine), kFreshTexts);
    const auto app = home / "Applications/OpenCode.app";
    EXPECT_EQ(engine.installedApp(), app);
    EXPECT_TRUE(fs::is_regular_file(app / "Contents/Info.plist"));
    EXPECT_EQ(test::slurp(engine.helper()), "#!/bin/sh\necho orvek\n");
    struct stat attributes {};
    ASSERT_EQ(::stat(engine.helper().c_str(), &attributes), 0);
    EXPECT_EQ(attributes.st_mode & 07777, 0700U);
    EXPECT_TRUE(fs::exists(engine.desktopData() / "opencode.global.dat"));
    expectNoLeftovers(engine);

    // The next run finds everything in place and needs the network no more.
    auto again = core();
    EXPECT_EQ(install(again), (std::vector<std::string>{kFreshTexts[0], kFreshTexts[2]}));
    EXPECT_EQ(again.installedApp(), app);
    EXPECT_EQ(server->requestCount(kImagePath), 1);
    EXPECT_EQ(server->requestCount(kArchivePath), 1);
}

TEST_F(SandboxInstall, RefusesWhatIsNotTheOfficialBuild) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> info;
        const char* team;
        const char* message;
    };
    auto older = sandbox::openCodeInfo();
    older["CFBundleShortVersionString"] = "2.1.3";
    auto foreign = sandbox::openCodeInfo();
    foreign["CFBundleIdentifier"] = "com.example.opencode";
    const Row rows[] = {
        {"version 2.1.3", older, kTeam,
         "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4."},
        {"another identifier", foreign, kTeam,
         "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4."},
        {"another publisher", sandbox::openCodeInfo(), "SOMEONE123",
         "Подпись OpenCode не прошла проверку."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto image = work / (std::string("bad-") + std::to_string(&row - rows) + ".dmg");
        buildImage(image, row.info, row.team);
        serveImage(image);
        fs::remove_all(home / "Library");
        auto engine = core();
        EXPECT_EQ(install(engine),
                  (std::vector<std::string>{kFreshTexts[0], kFreshTexts[1], row.message}));
        EXPECT_FALSE(fs::exists(home / "Applications/OpenCode.app"));
        EXPECT_FALSE(engine.installedApp());
        expectNoLeftovers(engine);
    }
}

TEST_F(SandboxInstall, RefusesADownloadThatIsNotTheNamedImage) {
    // The service sends other bytes than the manifest names: nothing is kept.
    writeFile(work / "other.dmg", "not the image");
    server->serveFile(kImagePath, work / "other.dmg");
    auto engine = core();
    EXPECT_EQ(install(engine),
              (std::vector<std::string>{kFreshTexts[0], kFreshTexts[1],
                                        "Контрольная сумма загрузки не совпала."}));
    EXPECT_TRUE(fs::is_empty(engine.root() / "downloads"));
    EXPECT_FALSE(fs::exists(home / "Applications/OpenCode.app"));
}

TEST_F(SandboxInstall, ADamagedCacheIsReportedUntilTheUserDeletesIt) {
    auto engine = core();
    writeFile(engine.root() / "downloads/OpenCode-2.1.4-arm64.dmg", "damaged");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(install(engine).back(),
                  "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.");
    }
    EXPECT_EQ(server->requestCount(kImagePath), 0);
    fs::remove(engine.root() / "downloads/OpenCode-2.1.4-arm64.dmg");
    EXPECT_EQ(install(engine), kFreshTexts);
}

TEST_F(SandboxInstall, RefusesAHelperArchiveWithMoreThanTheHelper) {
    writeFile(work / "helper/README", "read me");
    packHelper(work / "helper", {"orvek", "README"}, work / "two.tar.gz");
    serveHelper(work / "two.tar.gz");
    auto engine = core();
    EXPECT_EQ(install(engine).back(), "Неподдерживаемое содержимое архива подключения.");
    EXPECT_FALSE(fs::exists(engine.helper()));
    expectNoLeftovers(engine);
}

TEST_F(SandboxInstall, StopsWhileOpenCodeRuns) {
    const RunningOpenCode running(work.path());
    auto engine = core();
    EXPECT_EQ(install(engine), (std::vector<std::string>{
                                   kFreshTexts[0], "Закройте OpenCode и повторите действие."}));
    EXPECT_EQ(server->requestCount(kImagePath), 0);
}

TEST_F(SandboxInstall, RefusesTwoInstallations) {
    auto engine = core();
    ASSERT_EQ(install(engine), kFreshTexts);
    fs::copy(home / "Applications/OpenCode.app", systemApplications() / "OpenCode.app",
             fs::copy_options::recursive);
    auto again = core();
    EXPECT_EQ(install(again).back(),
              "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.");
}

} // namespace
} // namespace orvek::sandbox
