#include "mcp/LocalMcp.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "McpHome.h"
#include "McpPeers.h"
#include "Outcome.h"
#include "base/Json.h"
#include "config/ServiceEndpoints.h"
#include "mcp/McpCancellation.h"

namespace orvek::mcp {
namespace {

namespace fs = std::filesystem;
using base::JsonValue;
using test::failureText;
using test::outcomeOf;

constexpr const char* kHelperPath = "/Users/anna/Library/Application Support/Orvek/orvek";
const std::string kUnsupported = failureText(
    "Настройки не поддерживаются. Исходные файлы сохранены.", "CONFIGURATION_UNSUPPORTED");
const std::string kTimedOut = failureText(LocalMcp::kTimedOut);
const std::string kNoTools = failureText(LocalMcp::kNoTools);
const std::string kChanged = failureText(LocalMcp::kChanged, "CONFIGURATION_CHANGED");
const config::ServiceEndpoints kEndpoints(test::McpHome::kApiBase);

/// The user cancelling once the stand-in "wait-for-user" shows it waits. Should it never show,
/// the test fails after 30 seconds and cancels anyway, so the check beside it ends.
std::thread cancelOnceWaiting(const test::McpHome& home, McpCancellation& cancellation) {
    return std::thread([marker = home.home() / ".orvek-sandbox/mcp-waiting", &cancellation] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(marker)) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the helper never showed it waits: no " << marker;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        cancellation.cancel();
    });
}

std::string entryFor(const std::string& helper) {
    return base::json(LocalMcp::localEntry(helper));
}

std::string withMcp(const JsonValue& orvek) {
    return JsonValue{{"mcp", {{"orvek", orvek}}}}.dump(2);
}

// ---- patch ----

TEST(LocalMcpPatch, InsertsTheEntryBeforeTheClosingBraceKeepingEveryOtherByte) {
    const std::string mcp = R"("mcp":{"orvek":)" + entryFor(kHelperPath) + "}";
    struct Row {
        const char* name;
        std::string data;
        std::string expected;
    };
    for (const Row& row : {
             Row{"empty object", "{}", "{" + mcp + "}"},
             Row{"one member", R"({"a":1})", R"({"a":1,)" + mcp + "}"},
             Row{"spacing after the last member", "{\n  \"share\": \"disabled\"\n}\n",
                 "{\n  \"share\": \"disabled\"\n," + mcp + "}\n"},
             Row{"space inside an empty object", "{ \n }", "{ \n " + mcp + "}"},
         }) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(LocalMcp::patch(row.data, kHelperPath, kEndpoints), row.expected);
    }
}

TEST(LocalMcpPatch, ReplacesOnlyTheRemoteEntry) {
    const std::string before =
        "{\n  \"$schema\": \"https://opencode.ai/config.json\",\n  \"mcp\": {\n    \"orvek\": ";
    const std::string after =
        ",\n    \"other\": {\"type\": \"local\", \"command\": [\"x\"]}\n  },\n  \"share\": \"disabled\"\n}\n";
    const auto data = before + test::McpHome::remoteEntry().dump(6) + after;
    EXPECT_EQ(LocalMcp::patch(data, kHelperPath, kEndpoints),
              before + entryFor(kHelperPath) + after);
}

TEST(LocalMcpPatch, TheCanonicalEntryIsKeptByteForByte) {
    const auto data = "{\"model\": \"x\",\n \"mcp\": {\"orvek\":" + entryFor(kHelperPath) + "}}\n";
    EXPECT_EQ(LocalMcp::patch(data, kHelperPath, kEndpoints), data);
}

TEST(LocalMcpPatch, RefusesEverythingElse) {
    auto extra = test::McpHome::remoteEntry();
    extra["headers"] = JsonValue::object();
    auto enabledNumber = test::McpHome::remoteEntry();
    enabledNumber["enabled"] = 1;
    auto otherUrl = test::McpHome::remoteEntry();
    otherUrl["url"] = "https://api.orvek.test/mcp/";
    auto otherScope = test::McpHome::remoteEntry();
    otherScope["oauth"]["scope"] = "mcp:tools";
    auto oauthExtra = test::McpHome::remoteEntry();
    oauthExtra["oauth"]["clientSecret"] = "s";
    auto disabled = test::McpHome::remoteEntry();
    disabled["enabled"] = false;
    auto otherHost = test::McpHome::remoteEntry();
    otherHost["url"] = "https://api.orvek.ru/mcp";
    struct Row {
        const char* name;
        std::string data;
        std::string helper = kHelperPath;
    };
    for (const Row& row : {
             Row{"a comment", "{\n  // mine\n  \"a\": 1\n}"},
             Row{"the local entry pretty-printed", withMcp(LocalMcp::localEntry(kHelperPath))},
             Row{"a remote entry with one member more", withMcp(extra)},
             Row{"enabled written as 1", withMcp(enabledNumber)},
             Row{"enabled false", withMcp(disabled)},
             Row{"another address", withMcp(otherUrl)},
             Row{"another service's address", withMcp(otherHost)},
             Row{"another scope", withMcp(otherScope)},
             Row{"an OAuth member more", withMcp(oauthExtra)},
             Row{"other servers only", R"({"mcp":{"other":{"type":"local"}}})"},
             Row{"an empty mcp", R"({"mcp":{}})"},
             Row{"mcp as an array", R"({"mcp":[]})"},
             Row{"orvek as text", R"({"mcp":{"orvek":"local"}})"},
             Row{"a relative helper path", "{}", "orvek"},
             Row{"a local entry for another helper", withMcp(LocalMcp::localEntry("/opt/orvek"))},
         }) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::patch(row.data, row.helper, kEndpoints); }),
                  kUnsupported);
    }
}

TEST(LocalMcpPatch, TheProductionServiceIsTheDefault) {
    auto remote = test::McpHome::remoteEntry().dump();
    for (const std::string from : {"https://api.orvek.test"}) {
        std::string::size_type at = 0;
        while ((at = remote.find(from, at)) != std::string::npos)
            remote.replace(at, from.size(), "https://api.orvek.ru");
    }
    const auto data = R"({"mcp":{"orvek":)" + remote + "}}";
    EXPECT_EQ(LocalMcp::patch(data, kHelperPath),
              R"({"mcp":{"orvek":)" + entryFor(kHelperPath) + "}}");
}

// ---- environment and configured ----

class LocalMcpTest : public ::testing::Test {
protected:
    test::McpHome mcp;
    McpCancellation cancellation;
};

TEST_F(LocalMcpTest, OverridesAndARelativeConfigurationHomeBlock) {
    mcp.writeConfiguration(R"({"mcp":{"orvek":)" + mcp.localEntry() + "}}");
    EXPECT_TRUE(LocalMcp::configured(mcp.core()));
    struct Row {
        const char* name;
        const char* value;
        bool blocks;
    };
    for (const Row& row :
         {Row{"OPENCODE_CONFIG_DIR", "/tmp/x", true}, Row{"OPENCODE_CONFIG", "", false},
          Row{"OPENCODE_CONFIG", "x", true}, Row{"OPENCODE_CONFIG_CONTENT", "{}", true},
          Row{"ORVEK_CLI_STATE_DIR", "/tmp", true}, Row{"ORVEK_API_URL", "https://x", true},
          Row{"XDG_CONFIG_HOME", "config", true}, Row{"XDG_CONFIG_HOME", "", false}}) {
        SCOPED_TRACE(std::string(row.name) + "=" + row.value);
        test::ScopedEnvironment scoped;
        scoped.set(row.name, row.value);
        EXPECT_EQ(outcomeOf([] { LocalMcp::environmentCheck(); }),
                  row.blocks ? kUnsupported : test::kPassed);
        EXPECT_EQ(LocalMcp::configured(mcp.core()), !row.blocks);
        if (row.blocks) {
            EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::probe(mcp.core(), cancellation); }),
                      kUnsupported);
        }
    }
}

TEST_F(LocalMcpTest, ConfiguredOnlyForTheCanonicalEntry) {
    struct Row {
        const char* name;
        std::string configuration;
        int overlay; // 0 none, 1 the preset, 2 the preset with the entry
        bool expected;
    };
    // Every row's home has its own helper path; the entry is built for it below.
    const std::string canonical = "CANONICAL";
    for (const Row& row : {
             Row{"canonical", canonical, 0, true},
             Row{"canonical beside the preset", canonical, 1, true},
             Row{"pretty-printed", withMcp(LocalMcp::localEntry("/Users/x/orvek")), 0, false},
             Row{"remote", withMcp(test::McpHome::remoteEntry()), 0, false},
             Row{"no entry", R"({"model":"x"})", 0, false},
             Row{"in the overlay", R"({"model":"x"})", 2, true},
             Row{"in both", canonical, 2, false},
             Row{"in the overlay beside another server",
                 R"({"model":"x","mcp":{"other":{"type":"local"}}})", 2, true},
             Row{"a comment", "{/* x */}", 0, false},
         }) {
        SCOPED_TRACE(row.name);
        test::McpHome fresh;
        fresh.writeConfiguration(row.configuration == canonical
                                     ? R"({"model":"x","mcp":{"orvek":)" + fresh.localEntry() + "}}"
                                     : row.configuration);
        if (row.overlay > 0)
            fresh.writeOverlay(row.overlay == 2);
        EXPECT_EQ(LocalMcp::configured(fresh.core()), row.expected);
    }
    EXPECT_FALSE(LocalMcp::configured(mcp.core())) << "no opencode.jsonc at all";
}

// ---- probe ----

TEST_F(LocalMcpTest, RealServersAnswer) {
    ASSERT_EQ(test::McpPeerPaths::missing(), "");
    struct Row {
        const char* name;
        std::function<void()> install;
        int tools; // 0: any number above zero
    };
    for (const Row& row : {
             Row{"the sandbox's helper", [&] { mcp.useStandIn(); }, 2},
             Row{"a notification before the response", [&] { mcp.useStandIn("notification"); }, 2},
             Row{"the official SDK over stdio", [&] { mcp.useSdkServer(); }, 3},
             // The reference server announces a tools/list change before it answers anything.
             Row{"the SDK's reference server", [&] { mcp.useEverythingServer(); }, 0},
         }) {
        SCOPED_TRACE(row.name);
        row.install();
        const int tools = LocalMcp::probe(mcp.core(), cancellation);
        if (row.tools > 0)
            EXPECT_EQ(tools, row.tools);
        else
            EXPECT_GT(tools, 0);
    }
}

TEST_F(LocalMcpTest, AMisbehavingHelperFailsAndIsGone) {
    // A row that ends on its own has the shipped limit, which it ends long before even on a
    // loaded sanitizer run; the one that never answers in full is given a second and a half.
    struct Row {
        const char* mode;
        std::string expected;
        std::chrono::milliseconds limit = LocalMcp::kTimeout;
    };
    for (const Row& row : {
             Row{"log-line", "json"},
             Row{"json-log-line", kUnsupported},
             Row{"other-id", kUnsupported},
             Row{"error", kUnsupported},
             Row{"no-result", kUnsupported},
             Row{"no-tools", kNoTools},
             Row{"nameless-tools", kNoTools},
             Row{"close-output", kUnsupported},
             Row{"flood", kUnsupported},
             Row{"notification-flood", kUnsupported},
             Row{"initialize-only", kTimedOut, std::chrono::milliseconds(1500)},
         }) {
        SCOPED_TRACE(row.mode);
        mcp.useStandIn(row.mode);
        EXPECT_EQ(outcomeOf([&] {
                      (void)LocalMcp::probeForTesting(mcp.core(), cancellation, row.limit);
                  }),
                  row.expected);
        const auto pid = mcp.standInPid();
        ASSERT_TRUE(pid.has_value());
        EXPECT_FALSE(test::stillRunning(*pid));
        std::filesystem::remove(mcp.home() / ".orvek-sandbox/mcp.pid");
    }
}

TEST_F(LocalMcpTest, NothingTheHelperStartedOutlivesTheCheck) {
    mcp.useStandIn("straggler");
    EXPECT_EQ(LocalMcp::probe(mcp.core(), cancellation), 2);
    const auto straggler = mcp.standInPid("mcp-straggler.pid");
    ASSERT_TRUE(straggler.has_value());
    EXPECT_FALSE(test::stillRunning(*straggler));
    EXPECT_FALSE(test::stillRunning(*mcp.standInPid()));
}

TEST_F(LocalMcpTest, CancellationEndsTheWait) {
    mcp.useStandIn("wait-for-user");
    McpCancellation early;
    early.cancel();
    EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::probe(mcp.core(), early); }), kUnsupported);
    EXPECT_FALSE(mcp.standInPid().has_value()) << "cancelled before the helper was started";

    auto user = cancelOnceWaiting(mcp, cancellation);
    EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::probe(mcp.core(), cancellation); }), kTimedOut);
    user.join();
    EXPECT_FALSE(test::stillRunning(*mcp.standInPid()));
}

TEST_F(LocalMcpTest, OnlyTheVerifiedHelperIsStarted) {
    mcp.useStandIn();
    mcp.tamperWithHelper();
    EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::probe(mcp.core(), cancellation); }),
              failureText("Компонент подключения изменён. Повторите установку."));
    EXPECT_FALSE(mcp.standInPid().has_value());
}

TEST_F(LocalMcpTest, AnyStdioCommandCanBeChecked) {
    ASSERT_EQ(test::McpPeerPaths::missing(), "");
    EXPECT_EQ(LocalMcp::probeCommand(test::McpPeerPaths::node(),
                                     {test::McpPeerPaths::sdkServer().string(),
                                      test::McpPeerPaths::modules().string(), "stdio"},
                                     {}, std::nullopt, cancellation),
              3);
    // A server that closes its output unanswered while still reading: the protocol failure.
    // (One that has already exited may instead fail the request's write, a platform error.)
    EXPECT_EQ(outcomeOf([&] {
                  (void)LocalMcp::probeCommand("/bin/sh", {"-c", "exec >&-; cat >/dev/null"}, {},
                                               std::nullopt, cancellation);
              }),
              kUnsupported);
    EXPECT_EQ(outcomeOf([&] {
                  (void)LocalMcp::probeCommand("/nonexistent/server", {}, {}, std::nullopt,
                                               cancellation);
              }),
              "errno 2 at /nonexistent/server");
}

// ---- probeConfigured ----

TEST_F(LocalMcpTest, AConfiguredEntryIsProvenWithoutWriting) {
    mcp.useStandIn();
    const auto data = R"({"model":"x","mcp":{"orvek":)" + mcp.localEntry() + "}}";
    mcp.writeConfiguration(data);
    EXPECT_EQ(LocalMcp::probeConfigured(mcp.core(), cancellation), 2);
    EXPECT_EQ(mcp.configurationBytes(), data);

    std::filesystem::remove(mcp.home() / ".orvek-sandbox/mcp.pid");
    mcp.writeConfiguration(R"({"model":"x"})");
    EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::probeConfigured(mcp.core(), cancellation); }),
              kUnsupported);
    EXPECT_FALSE(mcp.standInPid().has_value()) << "no check without the entry";
}

TEST_F(LocalMcpTest, AnyChangeAroundTheConfiguredCheckIsReported) {
    struct Row {
        const char* name;
        std::function<void(test::McpHome&, McpCancellation&)> during;
        std::string expected;
    };
    for (const Row& row : {
             Row{"nothing", [](test::McpHome&, McpCancellation&) {}, test::kPassed},
             Row{"cancelled", [](test::McpHome&, McpCancellation&c) { c.cancel(); }, kChanged},
             Row{"one space added",
                 [](test::McpHome&home, McpCancellation&) {
                     home.writeConfiguration(home.configurationBytes() + " ");
                 },
                 kChanged},
             Row{"the preset appeared",
                 [](test::McpHome&home, McpCancellation&) { home.writeOverlay(false); }, kChanged},
             Row{"an override set",
                 [](test::McpHome&home, McpCancellation&) {
                     home.environment().set("ORVEK_API_URL", "https://x");
                 },
                 kChanged},
         }) {
        SCOPED_TRACE(row.name);
        test::McpHome home;
        home.writeConfiguration(R"({"model":"x","mcp":{"orvek":)" + home.localEntry() + "}}");
        McpCancellation rowCancellation;
        EXPECT_EQ(outcomeOf([&] {
                      (void)LocalMcp::probeConfigured(
                          home.core(), rowCancellation,
                          [&](const installer::InstallerCore&, McpCancellation& c) {
                              row.during(home, c);
                              return 5;
                          });
                  }),
                  row.expected);
    }
}

// ---- repair ----

TEST_F(LocalMcpTest, RepairConvertsTheRemoteEntryAfterTheHelperAnswered) {
    ASSERT_EQ(test::McpPeerPaths::missing(), "");
    const std::string before =
        "{\n  \"model\": \"orvek/claude-opus-5\",\n  \"mcp\": {\n    \"orvek\": ";
    const std::string after = "\n  }\n}\n";
    struct Row {
        const char* name;
        std::function<void()> install;
        std::string data;
        std::string expected;
        int tools;
    };
    for (const Row& row : {
             Row{"the remote entry, the sandbox's helper", [&] { mcp.useStandIn(); },
                 before + test::McpHome::remoteEntry().dump() + after,
                 before + mcp.localEntry() + after, 2},
             Row{"no entry, the official SDK", [&] { mcp.useSdkServer(); }, "{\"a\": 1}",
                 "{\"a\": 1,\"mcp\":{\"orvek\":" + mcp.localEntry() + "}}", 3},
             Row{"the local entry already", [&] { mcp.useStandIn(); },
                 "{\"mcp\":{\"orvek\":" + mcp.localEntry() + "}}",
                 "{\"mcp\":{\"orvek\":" + mcp.localEntry() + "}}", 2},
         }) {
        SCOPED_TRACE(row.name);
        row.install();
        mcp.writeConfiguration(row.data);
        EXPECT_EQ(LocalMcp::repair(mcp.core(), cancellation), row.tools);
        EXPECT_EQ(mcp.configurationBytes(), row.expected);
        EXPECT_TRUE(LocalMcp::configured(mcp.core()));
    }
}

TEST_F(LocalMcpTest, AFailedOrRefusedRepairWritesNothing) {
    const auto remote = withMcp(test::McpHome::remoteEntry());
    struct Row {
        const char* name;
        std::function<void(test::McpHome&)> prepare;
        std::function<void(test::McpHome&, McpCancellation&)> during;
        std::string expected;
    };
    const auto none = [](test::McpHome&, McpCancellation&) {};
    for (const Row& row : {
             Row{"the helper fails", [](test::McpHome&home) { home.useStandIn("error"); }, none,
                 kUnsupported},
             Row{"the helper lists no tools",
                 [](test::McpHome&home) { home.useStandIn("no-tools"); }, none, kNoTools},
             Row{"an override",
                 [](test::McpHome&home) {
                     home.useStandIn();
                     home.environment().set("OPENCODE_CONFIG_CONTENT", "{}");
                 },
                 none, kUnsupported},
             Row{"an mcp in the preset",
                 [](test::McpHome&home) {
                     home.useStandIn();
                     home.writeOverlay(true);
                 },
                 none, kUnsupported},
             Row{"the entry in the preset alone",
                 [](test::McpHome&home) {
                     home.useStandIn();
                     home.writeOverlay(true);
                     home.writeConfiguration(R"({"model":"x"})");
                 },
                 none, kUnsupported},
             Row{"a foreign preset",
                 [](test::McpHome&home) {
                     home.useStandIn();
                     home.home().write(".config/opencode/opencode.json", "{}");
                 },
                 none, kUnsupported},
             Row{"OpenCode running",
                 [](test::McpHome&home) {
                     home.useStandIn();
                     home.openCodeRunning(true);
                 },
                 none, failureText("Закройте OpenCode и повторите действие.")},
             Row{"cancelled after the check", [](test::McpHome&home) { home.useStandIn(); },
                 [](test::McpHome&, McpCancellation&c) { c.cancel(); }, kUnsupported},
             Row{"the settings edited during the check",
                 [](test::McpHome&home) { home.useStandIn(); },
                 [&](test::McpHome&home, McpCancellation&) {
                     home.writeConfiguration(remote + "\n");
                 },
                 // The guarded write finds other bytes than it was given: nothing is replaced.
                 kUnsupported},
             Row{"the preset appeared during the check",
                 [](test::McpHome&home) { home.useStandIn(); },
                 [](test::McpHome&home, McpCancellation&) { home.writeOverlay(false); },
                 kUnsupported},
         }) {
        SCOPED_TRACE(row.name);
        test::McpHome home;
        home.writeConfiguration(remote);
        row.prepare(home);
        const auto before = home.configurationBytes();
        McpCancellation rowCancellation;
        EXPECT_EQ(outcomeOf([&] {
                      (void)LocalMcp::repair(
                          home.core(), rowCancellation,
                          [&](const installer::InstallerCore& core, McpCancellation& c) {
                              const int tools = LocalMcp::probe(core, c);
                              row.during(home, c);
                              return tools;
                          });
                  }),
                  row.expected);
        const auto now = home.configurationBytes();
        if (std::string(row.name) == "the settings edited during the check")
            EXPECT_EQ(now, remote + "\n");
        else
            EXPECT_EQ(now, before);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(home.core().globalConfig()))
            names.push_back(entry.path().filename().string());
        for (const auto& name : names)
            EXPECT_FALSE(name.find("orvek-backup") != std::string::npos) << name;
    }
}

TEST_F(LocalMcpTest, AChangeRightAfterTheRepairsWriteFailsIt) {
    struct Row {
        const char* name;
        std::function<void(test::McpHome&)> change;
    };
    for (const Row& row : {
             Row{"the settings rewritten",
                 [](test::McpHome& home) {
                     home.writeConfiguration(home.configurationBytes() + " ");
                 }},
             Row{"the preset appeared", [](test::McpHome& home) { home.writeOverlay(false); }},
         }) {
        SCOPED_TRACE(row.name);
        test::McpHome home;
        home.useStandIn();
        home.writeConfiguration(withMcp(test::McpHome::remoteEntry()));
        McpCancellation rowCancellation;
        EXPECT_EQ(outcomeOf([&] {
                      (void)LocalMcp::repairForTesting(home.core(), rowCancellation,
                                                       LocalMcp::probe, [&] { row.change(home); });
                  }),
                  kUnsupported);
    }
}

TEST_F(LocalMcpTest, CancellingWhileTheHelperWaitsKeepsTheSettings) {
    mcp.useStandIn("wait-for-user");
    const auto remote = withMcp(test::McpHome::remoteEntry());
    mcp.writeConfiguration(remote);
    auto user = cancelOnceWaiting(mcp, cancellation);
    EXPECT_EQ(outcomeOf([&] { (void)LocalMcp::repair(mcp.core(), cancellation); }), kTimedOut);
    user.join();
    EXPECT_EQ(mcp.configurationBytes(), remote);
    EXPECT_FALSE(test::stillRunning(*mcp.standInPid()));
}

} // namespace
} // namespace orvek::mcp
