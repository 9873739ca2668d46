#include "base/ProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "TempHome.h"
#include "base/InstallerFailure.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"

namespace orvek::base {
namespace {

using orvek::base::Bytes;
using orvek::base::Environment;
using orvek::base::InstallerFailure;
using orvek::base::PlatformError;
using orvek::base::ProcessResult;
using orvek::test::TempHome;
using Script = std::vector<std::string>;
using namespace std::chrono_literals;

const std::filesystem::path kChild = ORVEK_TEST_CHILD;
constexpr const char* kTimeoutMessage = "Компонент не ответил вовремя. Повторите действие.";
constexpr const char* kTooLargeMessage = "Компонент вернул слишком большой ответ.";

// Must match the copy in TestChild.cpp, which writes these bytes for "out N" and "err N".
char patternByte(std::size_t index, unsigned char salt) {
    return static_cast<char>((index * 131 + salt) % 256);
}

Bytes pattern(std::size_t count, char stream) {
    Bytes bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = patternByte(i, static_cast<unsigned char>(stream));
    return bytes;
}

ProcessResult runChild(const Script& script, double timeout = 20,
                       const std::optional<Environment>& environment = std::nullopt) {
    return run(kChild, script, environment, timeout);
}

/// The InstallerFailure `action` throws; a test failure (and an empty result) if it throws
/// nothing or something else.
template <typename Action> std::optional<InstallerFailure> failureOf(Action&& action) {
    try {
        action();
    } catch (const InstallerFailure& failure) {
        return failure;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "no failure";
    return std::nullopt;
}

pid_t readPid(const std::filesystem::path& file) {
    return static_cast<pid_t>(std::stol(orvek::test::slurp(file)));
}

/// True when the process no longer runs. An orphan's zombie counts as gone: where init does not
/// reap (as in some containers) it lingers but runs no code.
bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
#ifdef __linux__
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto nameEnd = line.rfind(')');
    if (nameEnd != std::string::npos && nameEnd + 2 < line.size())
        return line[nameEnd + 2] == 'Z' || line[nameEnd + 2] == 'X';
#endif
    return false;
}

/// Orphaned descendants are reaped by init, so allow them a moment to disappear. Ten seconds
/// for a loaded sanitizer run; the survivors looked for sleep 30 seconds, so still show.
bool goneSoon(pid_t pid) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!processGone(pid)) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(ProcessRunnerCapture, KeepsBothStreamsApartAndReportsTheExitCode) {
    TempHome home;
    const auto late = (home / "late.pid").string();
    struct Case {
        const char* name;
        Script script;
        int status;
        Bytes standardOutput;
        Bytes standardError;
    };
    const std::vector<Case> cases = {
        {"text on both streams",
         {"print-out", "hello", "print-err", "oops", "exit", "3"},
         3,
         "hello",
         "oops"},
        {"no output", {}, 0, "", ""},
        {"arguments arrive verbatim, empty ones included",
         {"print-out", "", "print-out", " a  'b' \"c\"\n"},
         0,
         " a  'b' \"c\"\n",
         ""},
        // Each stream is several pipe buffers long: reading one while the other fills would hang.
        {"both streams flooded at once",
         {"out", "300000", "err", "300000", "out", "100"},
         0,
         pattern(300000, 'o') + pattern(100, 'o'),
         pattern(300000, 'e')},
        {"stdout closed early, child keeps going",
         {"close-out", "sleep", "0.2", "print-err", "late", "exit", "4"},
         4,
         "",
         "late"},
        {"grandchild finishes the output after the child exits",
         {"print-out", "early ", "fork", late, "sleep", "0.3", "print-out", "late", "end"},
         0,
         "early late",
         ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto result = runChild(row.script);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.standardOutput, row.standardOutput);
        EXPECT_EQ(result.standardError, row.standardError);
    }
}

TEST(ProcessRunnerCapture, ExitStatusIsTheCodeOrTheSignalNumber) {
    struct Case {
        const char* name;
        Script script;
        int status;
        bool signaled;
    };
    const std::vector<Case> cases = {
        {"exit 0", {"exit", "0"}, 0, false},
        {"exit 1", {"exit", "1"}, 1, false},
        {"exit 255", {"exit", "255"}, 255, false},
        {"hung up", {"raise", std::to_string(SIGHUP)}, SIGHUP, true},
        {"killed", {"raise", std::to_string(SIGKILL)}, SIGKILL, true},
        {"terminated", {"raise", std::to_string(SIGTERM)}, SIGTERM, true},
        {"user signal", {"raise", std::to_string(SIGUSR1)}, SIGUSR1, true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto result = runChild(row.script);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.signaled, row.signaled);
    }
}

TEST(ProcessRunnerCapture, StandardInputIsShared) {
    struct stat ours {};
    const std::string expected =
        ::fstat(STDIN_FILENO, &ours) != 0
            ? "closed"
            : std::to_string(ours.st_dev) + ":" + std::to_string(ours.st_ino);
    EXPECT_EQ(runChild({"stdin-id"}).standardOutput, expected);
}

TEST(ProcessRunnerEnvironment, AbsentEnvironmentIsInherited) {
    orvek::test::ScopedEnvironment probe;
    probe.set("ORVEK_RUNNER_PROBE", "inherited value");
    EXPECT_EQ(runChild({"env", "ORVEK_RUNNER_PROBE"}).standardOutput,
              "ORVEK_RUNNER_PROBE=inherited value\n");
}

TEST(ProcessRunnerEnvironment, GivenEnvironmentIsTheWholeEnvironment) {
    orvek::test::ScopedEnvironment probe;
    probe.set("ORVEK_RUNNER_PROBE", "must not leak");
    struct Case {
        const char* name;
        Environment environment;
        std::vector<std::string> entries;
    };
    const std::vector<Case> cases = {
        {"empty", {}, {}},
        {"several",
         {{"HOME", "/Users/тест"}, {"ORVEK_TOKEN_STORAGE", "file"}, {"EMPTY", ""}},
         {"EMPTY=", "HOME=/Users/тест", "ORVEK_TOKEN_STORAGE=file"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto result = runChild({"environ"}, 20, row.environment);
        EXPECT_EQ(sortedLines(result.standardOutput), row.entries);
    }
}

TEST(ProcessRunnerLaunch, LaunchErrorsPassThroughAsPlatformErrors) {
    TempHome home;
    home.write("plain.txt", "not a program");
    std::filesystem::create_directory(home / "folder");
    struct Case {
        const char* name;
        std::filesystem::path executable;
        int errnoValue;
    };
    const std::vector<Case> cases = {
        {"missing file", home / "missing", ENOENT},
        {"missing folder", home / "nowhere" / "tool", ENOENT},
        {"not executable", home / "plain.txt", EACCES},
        {"a folder", home / "folder", EACCES},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        try {
            (void)run(row.executable, {}, std::nullopt, 20);
            ADD_FAILURE() << "no error";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.errnoValue(), row.errnoValue);
            EXPECT_EQ(error.path(), row.executable);
            EXPECT_EQ(std::string(error.what()).rfind("Не удалось запустить программу «", 0), 0U)
                << error.what();
        }
    }
}

TEST(ProcessRunnerTimeout, HungChildrenAreStoppedWithTheirWholeGroup) {
    TempHome home;
    const auto child = (home / "child.pid").string();
    const auto grandchild = (home / "grandchild.pid").string();
    struct Case {
        const char* name;
        Script script;
        std::vector<std::string> pidFiles;
    };
    const std::vector<Case> cases = {
        {"sleeping child", {"pid", child, "sleep", "30"}, {child}},
        {"child ignoring SIGTERM", {"pid", child, "ignore-term", "sleep", "30"}, {child}},
        {"child and grandchild sleeping",
         {"pid", child, "fork", grandchild, "sleep", "30", "end", "sleep", "30"},
         {child, grandchild}},
        {"both ignoring SIGTERM",
         {"pid", child, "ignore-term", "fork", grandchild, "sleep", "30", "end", "sleep", "30"},
         {child, grandchild}},
        {"child gone, grandchild holding the pipes",
         {"pid", child, "fork", grandchild, "sleep", "30", "end", "exit", "0"},
         {child, grandchild}},
        // Signalling the group it was started in no longer reaches it; its own pid still does.
        {"child ignoring SIGTERM in another group",
         {"pid", child, "ignore-term", "leave-group", "sleep", "30"},
         {child}},
        {"output closed, child still running",
         {"pid", child, "close-out", "close-err", "sleep", "30"},
         {child}},
        {"output streaming without end",
         {"pid", child, "out", "1000", "sleep", "30", "out", "1000"},
         {child}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto started = std::chrono::steady_clock::now();
        const auto failure = failureOf([&] { (void)runChild(row.script, 0.5); });
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << "waited for the sleep";
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->message(), kTimeoutMessage);
        EXPECT_FALSE(failure->code());
        for (const auto& file : row.pidFiles) {
            const pid_t pid = readPid(file);
            EXPECT_TRUE(goneSoon(pid)) << file << " " << pid << " survived";
            std::filesystem::remove(file);
        }
    }
}

TEST(ProcessRunnerOutputLimit, OneMebibyteInTotalIsTheLimit) {
    TempHome home;
    const auto child = (home / "child.pid").string();
    struct Case {
        const char* name;
        std::size_t standardOutput;
        std::size_t standardError;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"exactly the limit on stdout", 1048576, 0, true},
        {"exactly the limit split over both", 524288, 524288, true},
        {"one byte over on stdout", 1048577, 0, false},
        {"one byte over on stderr", 0, 1048577, false},
        {"one byte over split over both", 524288, 524289, false},
        {"each stream under the limit, both together over", 600000, 600000, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const Script script = {"pid",   child,
                               "out",   std::to_string(row.standardOutput),
                               "err",   std::to_string(row.standardError),
                               "sleep", "30"};
        if (row.accepted) {
            // The child sleeps after writing, so the timeout must end it: bring it home quickly.
            const Script finishing(script.begin(), script.end() - 2);
            const auto result = runChild(finishing);
            EXPECT_EQ(result.standardOutput, pattern(row.standardOutput, 'o'));
            EXPECT_EQ(result.standardError, pattern(row.standardError, 'e'));
        } else {
            const auto failure = failureOf([&] { (void)runChild(script, 5); });
            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->message(), kTooLargeMessage);
            EXPECT_FALSE(failure->code());
            EXPECT_TRUE(processGone(readPid(child)));
        }
        std::filesystem::remove(child);
    }
}

// The caller watches a long child's work; the beats keep their interval and stop with it.
TEST(ProcessRunnerHeartbeat, BeatsAtItsIntervalWhileTheChildRuns) {
    std::vector<std::chrono::steady_clock::time_point> beats;
    const auto started = std::chrono::steady_clock::now();
    const auto result =
        run(kChild, {"sleep", "1"}, std::nullopt, 20,
            Heartbeat{100ms, [&] { beats.push_back(std::chrono::steady_clock::now()); }});
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EQ(result.status, 0);
    ASSERT_GE(beats.size(), 2U) << "a one-second child is looked at more than once";
    EXPECT_GE(beats.front() - started, 100ms);
    for (std::size_t i = 1; i < beats.size(); ++i)
        EXPECT_GE(beats[i] - beats[i - 1], 100ms);
    EXPECT_LE(beats.back(), ended);
}

// A beat that throws ends the run: the child and its group are gone before the error passes.
TEST(ProcessRunnerHeartbeat, AThrowingBeatStopsTheChild) {
    TempHome home;
    const auto child = (home / "child.pid").string();
    const auto grandchild = (home / "grandchild.pid").string();
    int beats = 0;
    int thrownAt = 0;
    // Not before the grandchild has started: a slow start (under a sanitizer) would leave no pid.
    EXPECT_THROW((void)run(kChild,
                           {"pid", child, "fork", grandchild, "sleep", "30", "end", "sleep", "30"},
                           std::nullopt, 20,
                           Heartbeat{50ms,
                                     [&] {
                                         if (++beats >= 3 && std::filesystem::exists(grandchild)) {
                                             thrownAt = beats;
                                             throw std::runtime_error("stop watching");
                                         }
                                     }}),
                 std::runtime_error);
    EXPECT_GE(thrownAt, 3);
    EXPECT_EQ(beats, thrownAt) << "a beat after the one that threw";
    for (const auto& file : {child, grandchild})
        EXPECT_TRUE(goneSoon(readPid(file))) << file;
}

TEST(ProcessRunnerRequire, NonZeroExitFailsWithTheCallersMessage) {
    TempHome home;
    orvek::test::ScopedEnvironment probe;
    probe.set("ORVEK_RUNNER_PROBE", "expected");
    const auto checksProbe = home.script("probe.sh", "[ \"$ORVEK_RUNNER_PROBE\" = expected ]");
    struct Case {
        const char* name;
        std::filesystem::path executable;
        Script arguments;
        bool succeeds;
    };
    const std::vector<Case> cases = {
        {"exit 0", kChild, {"print-out", "ignored", "exit", "0"}, true},
        {"inherited environment", checksProbe, {}, true},
        {"exit 1", kChild, {"exit", "1"}, false},
        {"exit 255", kChild, {"print-err", "why", "exit", "255"}, false},
        {"killed by a signal", kChild, {"raise", std::to_string(SIGKILL)}, false},
    };
    const std::string message = "Не удалось подключить образ диска.";
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        if (row.succeeds) {
            EXPECT_NO_THROW(require(row.executable, row.arguments, message));
            continue;
        }
        const auto failure = failureOf([&] { require(row.executable, row.arguments, message); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->message(), message);
        EXPECT_FALSE(failure->code());
    }
}

TEST(ProcessRunnerRequire, FailuresOfTheRunPassThrough) {
    TempHome home;
    const auto failure = failureOf([&] {
        require(kChild, {"sleep", "30"}, "не должно появиться", 0.3);
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), kTimeoutMessage);

    EXPECT_THROW(require(home / "missing", {}, "не должно появиться"), PlatformError);
}

TEST(ProcessRunnerDescriptors, ChildInheritsNoPipeEnds) {
    // Whatever we hold without FD_CLOEXEC (from whoever started the tests) the child may inherit;
    // anything more would be a pipe end that keeps end-of-stream from arriving.
    std::string inheritable;
    for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags != -1 && (flags & FD_CLOEXEC) == 0)
            inheritable += std::to_string(fd) + "\n";
    }
    EXPECT_EQ(runChild({"fds"}).standardOutput, inheritable);
}

#ifdef __linux__
std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

TEST(ProcessRunnerDescriptors, NoDescriptorOutlivesARun) {
    TempHome home;
    const auto before = openDescriptors();
    for (int round = 0; round < 3; ++round) {
        (void)runChild({"print-out", "ok", "print-err", "ok"});
        (void)runChild({"raise", std::to_string(SIGKILL)});
        (void)failureOf([] { (void)runChild({"sleep", "30"}, 0.2); });
        (void)failureOf([] { (void)runChild({"out", "1048577"}); });
        (void)failureOf([] { require(kChild, {"exit", "2"}, "сбой"); });
        EXPECT_THROW((void)run(home / "missing", {}, std::nullopt, 20), PlatformError);
    }
    EXPECT_EQ(openDescriptors(), before);
}
#endif

TEST(ProcessRunnerConcurrency, RunsFromSeveralThreadsAreIndependent) {
    constexpr int kThreads = 4;
    constexpr int kRuns = 5;
    std::vector<std::vector<std::string>> outputs(kThreads);
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &outputs, &errors] {
            try {
                for (int run = 0; run < kRuns; ++run) {
                    const auto token = std::to_string(t) + "/" + std::to_string(run);
                    outputs[t].push_back(
                        runChild({"print-out", token, "sleep", "0.05", "print-err", token})
                            .standardOutput);
                }
            } catch (const std::exception& error) {
                errors[t] = error.what();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        EXPECT_EQ(errors[t], "");
        ASSERT_EQ(outputs[t].size(), static_cast<std::size_t>(kRuns));
        for (int run = 0; run < kRuns; ++run)
            EXPECT_EQ(outputs[t][run], std::to_string(t) + "/" + std::to_string(run));
    }
}

} // namespace
} // namespace orvek::base
