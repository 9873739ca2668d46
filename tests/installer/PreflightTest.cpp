#include "installer/InstallerCore.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "ScopedEnvironment.h"
#include "TempHome.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"

namespace orvek::installer {
namespace {

using orvek::test::kPassed;
using orvek::test::outcomeOf;
using orvek::test::ScopedEnvironment;
using orvek::test::slurp;
using orvek::test::TempHome;

constexpr const char* kSystemPgrep = "/usr/bin/pgrep";
constexpr const char* kAbsoluteMessage = "XDG_CONFIG_HOME должен указывать абсолютную папку.";
constexpr const char* kOverrideMessage =
    "Обнаружены нестандартные настройки окружения. Запустите мастер без переопределения настроек OpenCode и Орвека.";
constexpr const char* kSpaceMessage = "Для установки нужно не менее 1,5 ГБ свободного места.";
constexpr const char* kCloseMessage = "Закройте OpenCode и повторите действие.";
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

const std::vector<const char*> kOverrides = {"OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG",
                                             "OPENCODE_CONFIG_CONTENT", "ORVEK_CLI_STATE_DIR",
                                             "ORVEK_API_URL"};

/// The environment of a wizard started normally: none of the variables preflight looks at.
void clearPreflightVariables(ScopedEnvironment& environment) {
    environment.unset("XDG_CONFIG_HOME");
    for (const char* name : kOverrides)
        environment.unset(name);
}

/// Sets the process umask for the life of the guard.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_old(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_old); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_old;
};

/// A copy of sleep running under the name of its file; killed and reaped when the guard goes.
class RunningProcess {
public:
    RunningProcess(const TempHome& temp, const std::string& name) {
        const auto executable = temp / "processes" / name;
        std::filesystem::create_directories(executable.parent_path());
        std::filesystem::copy_file("/bin/sleep", executable);
        std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
        std::string program = executable.string();
        std::string seconds = "600";
        char* const arguments[] = {program.data(), seconds.data(), nullptr};
        char* const environment[] = {nullptr};
        if (const int error =
                ::posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, arguments, environment);
            error != 0)
            throw std::system_error(error, std::generic_category(), "posix_spawn");
    }
    ~RunningProcess() {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

private:
    pid_t m_pid = -1;
};

/// Reports the figure it was built with, or fails the way a broken volume would.
class FixedCapacity : public base::FileManager {
public:
    explicit FixedCapacity(std::optional<std::uint64_t> bytes, int error = 0)
        : m_bytes(bytes), m_error(error) {}

    [[nodiscard]] std::optional<std::uint64_t>
    availableCapacity(const std::filesystem::path& path) const override {
        m_asked = path;
        if (m_error != 0)
            throw base::PlatformError(m_error, "прочитать сведения о диске", path);
        return m_bytes;
    }

    [[nodiscard]] const std::optional<std::filesystem::path>& asked() const { return m_asked; }

private:
    std::optional<std::uint64_t> m_bytes;
    int m_error;
    // Written from a const override; each test owns its instance and runs on one thread.
    mutable std::optional<std::filesystem::path> m_asked;
};

constexpr std::uint64_t kPlenty = 1'000'000'000'000;

InstallerCore makeCore(const std::filesystem::path& home, const std::filesystem::path& pgrep,
                       std::shared_ptr<const base::FileManager> fileManager =
                           std::make_shared<const FixedCapacity>(kPlenty)) {
    Deployment deployment = Deployment::production();
    deployment.pgrep = pgrep;
    return InstallerCore("/nonexistent/Resources", home, home / ".config", std::move(deployment),
                         std::move(fileManager));
}

/// A pgrep that answers with a fixed exit status and notes its arguments, one a line.
std::filesystem::path standInPgrep(const TempHome& temp, int status) {
    const auto log = temp / "pgrep.log";
    return temp.script("bin/pgrep-" + std::to_string(status), "printf '%s\\n' \"$@\" >> '" +
                                                                  log.string() + "'\nexit " +
                                                                  std::to_string(status));
}

/// The real pgrep, but blind to every process not started by this test binary, so that another
/// test's stand-in OpenCode or a developer's own OpenCode cannot change the outcome.
std::filesystem::path ownChildrenPgrep(const TempHome& temp) {
    return temp.script("bin/pgrep-own", "exec " + std::string(kSystemPgrep) + " -P " +
                                            std::to_string(::getpid()) + " \"$@\"");
}

// Holds the test until the process shows up under `name`, so that a pass is not a pass only
// because the copy had not been started yet.
void expectVisible(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto result = base::run(kSystemPgrep, {"-x", name, "-P", std::to_string(::getpid())},
                                      std::nullopt, 20);
        if (result.status == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "no process named " << name;
}

class PreflightTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kSystemPgrep))
            << kSystemPgrep << " is missing; install procps";
        clearPreflightVariables(m_environment);
    }

    ScopedEnvironment m_environment;
};

TEST_F(PreflightTest, RefusesEnvironmentOverridesBeforeTouchingTheDisk) {
    struct Row {
        std::string name;
        std::vector<std::pair<std::string, const char*>> variables;
        std::string expected;
    };
    std::vector<Row> rows = {
        {"nothing set", {}, kPassed},
        {"empty XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", ""}}, kPassed},
        {"absolute XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", "/elsewhere/config"}}, kPassed},
        {"relative XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", "config"}}, kAbsoluteMessage},
        {"relative XDG_CONFIG_HOME is reported before an override",
         {{"XDG_CONFIG_HOME", "config"}, {"ORVEK_API_URL", "https://example.com"}},
         kAbsoluteMessage},
    };
    for (const char* name : kOverrides) {
        rows.push_back({std::string(name) + " set", {{name, "x"}}, kOverrideMessage});
        rows.push_back({std::string(name) + " empty", {{name, ""}}, kPassed});
    }

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome temp;
        const auto home = temp / "home";
        const auto core = makeCore(home, standInPgrep(temp, 1));
        ScopedEnvironment environment;
        for (const auto& [name, value] : row.variables)
            environment.set(name, value);

        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), row.expected);
        if (row.expected == kPassed)
            EXPECT_TRUE(std::filesystem::is_directory(core.root()));
        else
            EXPECT_FALSE(std::filesystem::exists(home));
    }
}

TEST_F(PreflightTest, CreatesTheDataFolderForTheOwnerOnlyWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE("umask " + std::to_string(mask));
        TempHome temp;
        const auto core = makeCore(temp / "home", standInPgrep(temp, 1));
        {
            const ScopedUmask umask(mask);
            EXPECT_EQ(outcomeOf([&] { core.preflight(); }), kPassed);
        }
        for (auto folder = core.root(); folder != temp.path(); folder = folder.parent_path()) {
            SCOPED_TRACE(folder.string());
            struct stat attributes {};
            ASSERT_EQ(::lstat(folder.c_str(), &attributes), 0);
            EXPECT_TRUE(S_ISDIR(attributes.st_mode));
            EXPECT_EQ(attributes.st_mode & 07777, 0700U);
        }
    }
}

TEST_F(PreflightTest, RefusesASymbolicLinkOnTheWayToTheDataFolder) {
    struct Row {
        const char* name;
        std::filesystem::path link;
    };
    const std::vector<Row> rows = {
        {"the home folder", "home"},
        {"a folder inside the home", "home/Library/Application Support"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome temp;
        std::filesystem::create_directories(temp / "elsewhere");
        std::filesystem::create_directories((temp / row.link).parent_path());
        std::filesystem::create_directory_symlink(temp / "elsewhere", temp / row.link);
        const auto pgrep = standInPgrep(temp, 1);
        const auto core = makeCore(temp / "home", pgrep);

        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), kLinkMessage);
        EXPECT_TRUE(std::filesystem::is_empty(temp / "elsewhere"));
        EXPECT_FALSE(std::filesystem::exists(temp / "pgrep.log"));
    }
}

TEST_F(PreflightTest, NeedsOnePointFiveDecimalGigabytesFreeOnTheDataVolume) {
    struct Row {
        const char* name;
        std::optional<std::uint64_t> bytes;
        int error;
        std::string expected;
    };
    TempHome temp;
    const auto pgrep = ownChildrenPgrep(temp);
    const auto home = temp / "home";
    const auto root = makeCore(home, pgrep).root();
    const std::vector<Row> rows = {
        {"one byte short", 1'499'999'999, 0, kSpaceMessage},
        {"nothing free", 0, 0, kSpaceMessage},
        {"exactly enough", 1'500'000'000, 0, kPassed},
        {"1.5 GiB less a byte", 1'610'612'735, 0, kPassed},
        {"the volume does not say", std::nullopt, 0, kPassed},
        {"the volume cannot be read", 1'500'000'000, EIO,
         "errno " + std::to_string(EIO) + " at " + root.string()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto volume = std::make_shared<const FixedCapacity>(row.bytes, row.error);
        const auto core = makeCore(home, pgrep, volume);

        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), row.expected);
        EXPECT_EQ(volume->asked(), root);
        // The data folder stays even when a later check fails.
        EXPECT_TRUE(std::filesystem::is_directory(root));
    }
}

TEST_F(PreflightTest, AsksPgrepForTheExactNameOnlyAfterEveryOtherCheckPassed) {
    struct Row {
        const char* name;
        const char* variable;
        std::uint64_t bytes;
        std::string expected;
        const char* pgrepArguments;
    };
    const std::vector<Row> rows = {
        {"all checks pass", nullptr, kPlenty, kPassed, "-x\nOpenCode\n"},
        {"an override is set", "OPENCODE_CONFIG", kPlenty, kOverrideMessage, nullptr},
        {"too little space", nullptr, 1, kSpaceMessage, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome temp;
        ScopedEnvironment environment;
        if (row.variable != nullptr)
            environment.set(row.variable, "/somewhere");
        const auto core = makeCore(temp / "home", standInPgrep(temp, 1),
                                   std::make_shared<const FixedCapacity>(row.bytes));

        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), row.expected);
        if (row.pgrepArguments != nullptr)
            EXPECT_EQ(slurp(temp / "pgrep.log"), row.pgrepArguments);
        else
            EXPECT_FALSE(std::filesystem::exists(temp / "pgrep.log"));
    }
}

TEST_F(PreflightTest, EnsureClosedMatchesOnlyAProcessNamedExactlyOpenCode) {
    struct Row {
        const char* name;
        const char* processName;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"OpenCode running", "OpenCode", kCloseMessage},
        {"only a longer name running", "OpenCodeHelper", kPassed},
        {"a shorter name running", "OpenCod", kPassed},
        {"nothing running", nullptr, kPassed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome temp;
        const auto core = makeCore(temp / "home", ownChildrenPgrep(temp));
        std::unique_ptr<RunningProcess> process;
        if (row.processName != nullptr) {
            process = std::make_unique<RunningProcess>(temp, row.processName);
            expectVisible(row.processName);
        }

        EXPECT_EQ(outcomeOf([&] { core.ensureClosed(); }), row.expected);
        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), row.expected);
    }
}

TEST_F(PreflightTest, EnsureClosedFindsOpenCodeWithTheSystemPgrep) {
    TempHome temp;
    const auto core = makeCore(temp / "home", kSystemPgrep);
    const RunningProcess process(temp, "OpenCode");
    expectVisible("OpenCode");

    EXPECT_EQ(outcomeOf([&] { core.ensureClosed(); }), kCloseMessage);
}

TEST_F(PreflightTest, EnsureClosedTrustsOnlyPgrepsNoMatchStatus) {
    TempHome temp;
    const auto missing = temp / "bin" / "no-pgrep";
    struct Row {
        const char* name;
        std::filesystem::path pgrep;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"no match", standInPgrep(temp, 1), kPassed},
        {"a match", standInPgrep(temp, 0), kCloseMessage},
        {"pgrep failed", standInPgrep(temp, 2), kCloseMessage},
        {"pgrep failed badly", standInPgrep(temp, 3), kCloseMessage},
        // Ended by SIGHUP, whose number is also 1: not pgrep's own answer.
        {"pgrep hung up", temp.script("bin/pgrep-hup", "kill -HUP $$"), kCloseMessage},
        {"pgrep cannot be started", missing,
         "errno " + std::to_string(ENOENT) + " at " + missing.string()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto core = makeCore(temp / "home", row.pgrep);

        EXPECT_EQ(outcomeOf([&] { core.ensureClosed(); }), row.expected);
        EXPECT_EQ(outcomeOf([&] { core.preflight(); }), row.expected);
    }
}

} // namespace
} // namespace orvek::installer
