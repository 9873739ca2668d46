#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ConfigurationOverrides.h"
#include "HostileHome.h"
#include "Outcome.h"
#include "ScopedEnvironment.h"
#include "base/ChildProcess.h"
#include "installer/InstallerCore.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpCancellation.h"

namespace orvek::test {
namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

const std::string kTooLarge = "Компонент вернул слишком большой ответ.";
const std::string kNoAnswer = "Компонент не ответил вовремя. Повторите действие.";
const std::string kCouldNotCheck =
    "Не удалось проверить сохранённый доступ. Настройки сохранены; повторный вход не запускался.";
const std::string kSetupFailed = failureText(
    "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: CONFIGURATION_FAILED\nЭтап: helper-setup:exit=0",
    "CONFIGURATION_FAILED");
const std::string kUnsupported = failureText(
    "Настройки не поддерживаются. Исходные файлы сохранены.", "CONFIGURATION_UNSUPPORTED");
const std::string kMcpTimedOut = failureText(mcp::LocalMcp::kTimedOut);

/// One misbehaviour of the helper for one of its commands, and what the user reads after it.
struct HelperCase {
    const char* mode;
    const char* target;
    std::string expected;
    /// The longest the step may take, the limit that ends it included, with margin.
    Seconds bound;
};

void PrintTo(const HelperCase& row, std::ostream* out) {
    *out << row.mode << " on " << row.target;
}

/// A fresh home whose helper misbehaves as the row says, and what it held before.
struct Encounter {
    explicit Encounter(const HelperCase& row) : row(row), home(std::string(row.target) != "mcp") {
        home.useHelper(row.mode, row.target);
        before = home.snapshot();
    }

    /// Checks the outcome, the time it took, that no process of the helper is left and that
    /// nothing was written.
    void check(const TimedOutcome& result) const {
        SCOPED_TRACE(::testing::PrintToString(row));
        EXPECT_EQ(result.outcome, row.expected);
        EXPECT_LT(result.took, row.bound);
        EXPECT_EQ(processesMarked(home.marker()), std::vector<std::string>{});
        EXPECT_EQ(home.snapshot(), before);
    }

    HelperCase row;
    HostileHome home;
    std::map<std::string, SnapshotEntry> before;
};

template <typename Step> void meet(const HelperCase& row, Step&& step) {
    const Encounter encounter(row);
    encounter.check(timed([&] { step(encounter.home); }));
}

// Every case runs in a plain user session: no configuration overrides.
class HostileHelper : public ::testing::Test {
protected:
    HostileHelper() { test::clearConfigurationOverrides(environment); }

    ScopedEnvironment environment;
};

void connect(const HostileHome& home) {
    auto core = home.engine();
    core.connect([](const std::string&) {});
}

// The check for leftovers sees what it must: a grandchild of the stand-in, after the stand-in
// itself has exited, until its group is killed.
TEST_F(HostileHelper, TheLeftoverCheckSeesAStrayGrandchild) {
    const HostileHome home;
    home.useHelper("grandchild", "status");
    auto child = base::ChildProcess::start(home.engine().helper(), {"status"}, std::nullopt);
    // The stand-in may not run yet when `start` returns; once seen, the check keeps looking for
    // a second, by when the stand-in itself has exited and only the grandchild is left.
    std::vector<std::string> found;
    for (int attempt = 0; attempt < 100 && found.empty(); ++attempt) {
        std::this_thread::sleep_for(50ms);
        found = processesMarked(home.marker());
    }
    EXPECT_EQ(found.size(), 1U);
    child.kill();
    EXPECT_EQ(processesMarked(home.marker()), std::vector<std::string>{});
}

// The status and setup commands of a connection; the runner stops each misbehaving helper on
// its own well within the limits, which are never reached here.
TEST_F(HostileHelper, ConnectEndsWithItsOwnMessage) {
    for (const HelperCase& row : {
             HelperCase{"flood", "status", kTooLarge, 10s},
             HelperCase{"ignore-term", "status", kTooLarge, 10s},
             HelperCase{"log-first", "status", kCouldNotCheck, 10s},
             HelperCase{"other-id", "status", kCouldNotCheck, 10s},
             HelperCase{"early-close", "status", kCouldNotCheck, 10s},
             HelperCase{"flood", "setup", kTooLarge, 10s},
             HelperCase{"ignore-term", "setup", kTooLarge, 10s},
             HelperCase{"log-first", "setup", kSetupFailed, 10s},
             HelperCase{"other-id", "setup", kSetupFailed, 10s},
             HelperCase{"early-close", "setup", kSetupFailed, 10s},
         })
        meet(row, connect);
}

// A helper that never closes its output is waited for up to the command's limit, then every
// process of it is stopped. The command under test is given a few seconds, the other one far
// longer, so that a step ended by the wrong limit either stops short of the limit or runs past
// the bound; all rows wait side by side.
TEST_F(HostileHelper, ConnectWaitsOutTheCommandsLimitThenStopsEveryProcess) {
    constexpr auto kLimit = 3s;
    constexpr auto kOtherLimit = 60s;
    // Past the limit: the connection's other steps and the stop, on a loaded sanitizer run.
    constexpr auto kMargin = 10s;
    static_assert(kLimit + kMargin < kOtherLimit);
    std::vector<std::unique_ptr<Encounter>> encounters;
    for (const HelperCase& row : {
             HelperCase{"hang", "status", kNoAnswer, kLimit + kMargin},
             HelperCase{"grandchild", "status", kNoAnswer, kLimit + kMargin},
             HelperCase{"hang", "setup", kNoAnswer, kLimit + kMargin},
             HelperCase{"grandchild", "setup", kNoAnswer, kLimit + kMargin},
         })
        encounters.push_back(std::make_unique<Encounter>(row));
    std::vector<std::future<TimedOutcome>> runs;
    for (const auto& encounter : encounters) {
        const bool status = std::string(encounter->row.target) == "status";
        const double limit = Seconds(kLimit).count();
        const double other = Seconds(kOtherLimit).count();
        runs.push_back(std::async(std::launch::async,
                                  [&home = encounter->home, statusSeconds = status ? limit : other,
                                   setupSeconds = status ? other : limit] {
                                      return timed([&] {
                                          auto core = home.engine(statusSeconds, setupSeconds);
                                          core.connect([](const std::string&) {});
                                      });
                                  }));
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const auto result = runs[index].get();
        EXPECT_GE(result.took, kLimit)
            << encounters[index]->row.target << " ended before its limit";
        encounters[index]->check(result);
    }
}

// The helper's stdio MCP server as the local probe meets it. The probe's limit is a parameter,
// so the servers that never answer are given 3 seconds instead of 60.
TEST_F(HostileHelper, TheLocalMcpProbeEndsWithItsOwnMessage) {
    constexpr auto kLimit = 3s;
    for (const HelperCase& row : {
             HelperCase{"flood", "mcp", kUnsupported, 10s},
             HelperCase{"hang", "mcp", kMcpTimedOut, kLimit + 3s},
             HelperCase{"grandchild", "mcp", kMcpTimedOut, kLimit + 3s},
             // A line that is no JSON ends in the parser's own error, a JSON line that is no
             // response in the refusal.
             HelperCase{"log-first", "mcp", "json", 10s},
             HelperCase{"json-log-first", "mcp", kUnsupported, 10s},
             HelperCase{"other-id", "mcp", kUnsupported, 10s},
             HelperCase{"early-close", "mcp", kUnsupported, 10s},
             HelperCase{"ignore-term", "mcp", kMcpTimedOut, kLimit + 3s},
         })
        meet(row, [&](const HostileHome& home) {
            mcp::McpCancellation cancellation;
            (void)mcp::LocalMcp::probeForTesting(
                home.engine(), cancellation,
                std::chrono::duration_cast<std::chrono::milliseconds>(kLimit));
        });
}

} // namespace
} // namespace orvek::test
