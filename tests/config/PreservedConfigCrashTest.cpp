// Kills a real process in the middle of a guarded write, at every step, and checks that the
// user's file is never half written: it holds either the old or the new bytes in full.

#include "config/PreservedConfig.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"

#ifdef __APPLE__
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace orvek::config {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kChild = ORVEK_PRESERVED_WRITE_CHILD;
constexpr uid_t kNobody = 65534;

char** environment() {
#ifdef __APPLE__
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

// Where the child stops to be killed, in the order a write reaches them.
struct KillPoint {
    const char* name;
    bool replaced;  // the target holds the new bytes from here on
    int staged;     // staged copies left behind: 0 or 1
    bool stagedNew; // the staged copy already holds the new bytes
    bool backedUp;  // a backup with the old bytes exists
};

constexpr KillPoint kKillPoints[] = {
    {"start", false, 0, false, false},    {"checked", false, 0, false, false},
    {"staged", false, 1, false, false},   {"written", false, 1, true, false},
    {"rechecked", false, 1, true, false}, {"backedUp", false, 1, true, true},
    {"verified", false, 1, true, true},   {"renamed", true, 0, false, true},
};

struct Sizes {
    const char* name;
    std::size_t old;
    std::size_t updated;
};

constexpr Sizes kSizes[] = {
    {"empty", 0, 300},
    {"small", 200, 250},
    {"nearOneMebibyte", 1'048'576, 1'048'000},
};

void PrintTo(const KillPoint& point, std::ostream* out) {
    *out << point.name;
}
void PrintTo(const Sizes& sizes, std::ostream* out) {
    *out << sizes.name;
}

// Bytes that differ at every position between old and new, so a torn file cannot pass.
std::string pattern(std::size_t size, unsigned salt) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('!' + (i * 7 + salt) % 90);
    return bytes;
}

// A spawned child that is killed and reaped if the test leaves early.
class Spawned {
public:
    explicit Spawned(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int error =
            ::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environment());
        if (error != 0)
            m_pid = -1;
    }
    ~Spawned() {
        if (m_pid > 0)
            (void)kill();
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    [[nodiscard]] bool started() const noexcept { return m_pid > 0; }

    /// The status once the child stops or ends; nothing if neither happens in time.
    [[nodiscard]] std::optional<int> waitForStopOrExit(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t done = ::waitpid(m_pid, &status, WUNTRACED | WNOHANG);
            if (done == m_pid) {
                if (!WIFSTOPPED(status))
                    m_pid = -1;
                return status;
            }
            std::this_thread::sleep_for(2ms);
        }
        return std::nullopt;
    }

    /// SIGKILL, then the status it was reaped with.
    int kill() {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
};

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PreservedConfigCrash : public ::testing::Test {
protected:
    test::TempHome home;
    const fs::path target = home / "config/opencode.json";
    std::string old;
    std::string updated;
    struct stat before {};

    void prepare(const Sizes& sizes) {
        old = pattern(sizes.old, 3);
        updated = pattern(sizes.updated, 50);
        home.write("inputs/expected", old);
        home.write("inputs/updated", updated);
        home.write("config/opencode.json", old);
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        // A group that a new file would not get shows whether the attributes came along.
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(target.c_str(), 0, kNobody), 0);
        }
        ASSERT_EQ(::lstat(target.c_str(), &before), 0);
    }

    [[nodiscard]] std::vector<std::string> arguments(const char* stop) const {
        return {kChild.string(), target.string(), (home / "inputs/expected").string(),
                (home / "inputs/updated").string(), stop};
    }

    void expectTargetAttributesKept() const {
        struct stat after {};
        ASSERT_EQ(::lstat(target.c_str(), &after), 0);
        EXPECT_TRUE(S_ISREG(after.st_mode));
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
    }
};

using KillCase = std::tuple<KillPoint, Sizes>;

class PreservedConfigKill : public PreservedConfigCrash,
                            public ::testing::WithParamInterface<KillCase> {};

TEST_P(PreservedConfigKill, LeavesTheOldOrTheNewFileWhole) {
    const auto& [point, sizes] = GetParam();
    prepare(sizes);

    Spawned child(arguments(point.name));
    ASSERT_TRUE(child.started());
    const auto stopped = child.waitForStopOrExit(60s);
    ASSERT_TRUE(stopped) << "the child never reached " << point.name;
    ASSERT_TRUE(WIFSTOPPED(*stopped) && WSTOPSIG(*stopped) == SIGSTOP)
        << "the child ended before " << point.name << ", status " << *stopped;
    const int status = child.kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    const auto current = test::slurp(target);
    EXPECT_TRUE(current == (point.replaced ? updated : old))
        << "the target holds " << current.size() << " bytes, neither whole file expected";
    expectTargetAttributesKept();

    // Only the write's own siblings may be left, and only those this step has made.
    std::vector<std::string> staged;
    std::vector<std::string> backups;
    for (const auto& name : namesIn(target.parent_path())) {
        if (name.starts_with("opencode.json.orvek-stage-"))
            staged.push_back(name);
        else if (name.starts_with("opencode.json.orvek-backup-"))
            backups.push_back(name);
        else
            EXPECT_EQ(name, "opencode.json") << "unexpected leftover";
    }
    std::printf("killed at %-9s (%s): %zu staged, %zu backup left\n", point.name, sizes.name,
                staged.size(), backups.size());
    ASSERT_EQ(staged.size(), static_cast<std::size_t>(point.staged));
    ASSERT_EQ(backups.size(), point.backedUp ? 1U : 0U);
    if (!staged.empty()) {
        EXPECT_TRUE(test::slurp(target.parent_path() / staged[0]) ==
                    (point.stagedNew ? updated : old));
    }
    if (!backups.empty()) {
        EXPECT_TRUE(test::slurp(target.parent_path() / backups[0]) == old);
    }

    // Leftovers never block the next attempt.
    PreservedConfig::write(target, current, "{\"recovered\":true}");
    EXPECT_EQ(test::slurp(target), "{\"recovered\":true}");
    expectTargetAttributesKept();
}

INSTANTIATE_TEST_SUITE_P(PreservedConfigCrash, PreservedConfigKill,
                         ::testing::Combine(::testing::ValuesIn(kKillPoints),
                                            ::testing::ValuesIn(kSizes)),
                         [](const ::testing::TestParamInfo<KillCase>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// The same child left alone finishes the write, so the kills above interrupt a working one.
TEST_F(PreservedConfigCrash, UninterruptedChildReplaces) {
    for (const auto& sizes : kSizes) {
        SCOPED_TRACE(sizes.name);
        fs::remove_all(target.parent_path());
        prepare(sizes);

        Spawned child(arguments("none"));
        ASSERT_TRUE(child.started());
        const auto status = child.waitForStopOrExit(60s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        EXPECT_TRUE(test::slurp(target) == updated);
        expectTargetAttributesKept();
        EXPECT_EQ(namesIn(target.parent_path()).size(), 2U);
    }
}

} // namespace
} // namespace orvek::config
