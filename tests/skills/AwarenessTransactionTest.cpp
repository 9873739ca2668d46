#include <gtest/gtest.h>

#include <filesystem>

#include "Outcome.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "base/Base64.h"
#include "base/Json.h"
#include "skills/AwarenessTransaction.h"

namespace orvek::skills {
namespace {

namespace fs = std::filesystem;
using AwarenessTransaction::Change;

constexpr const char* kUnsupported =
    "code CONFIGURATION_UNSUPPORTED: Настройки не поддерживаются. Исходные файлы сохранены.";

class AwarenessTransactionTest : public ::testing::Test {
protected:
    [[nodiscard]] fs::path agents() const { return home / "AGENTS.md"; }
    [[nodiscard]] fs::path state() const { return home / ".orvek-awareness.json"; }
    [[nodiscard]] fs::path pending() const { return home / ".orvek-awareness-pending.json"; }

    // An undo record as `write` leaves it, for the files' states a crash may leave behind.
    void record(const Change& change) const {
        base::JsonValue value = {{"newAgents", base::base64Encode(change.newAgents)},
                                 {"newState", base::base64Encode(change.newState)}};
        if (change.oldAgents)
            value["oldAgents"] = base::base64Encode(*change.oldAgents);
        if (change.oldState)
            value["oldState"] = base::base64Encode(*change.oldState);
        home.write(pending().filename(), base::json(value));
    }
    void put(const fs::path& path, const std::optional<std::string>& bytes) const {
        if (bytes)
            home.write(path.filename(), *bytes);
        else
            fs::remove(path);
    }

    test::TempHome home;
};

TEST_F(AwarenessTransactionTest, WriteCommitsBothFilesAndLeavesNoRecord) {
    const std::vector<Change> changes = {
        {std::nullopt, std::nullopt, "новые инструкции", "{\"s\":1}"},
        {"старые", "{\"s\":1}", "новые", "{\"s\":2}"},
        {"те же", "{\"s\":2}", "те же", "{\"s\":2}"},
    };
    for (const auto& change : changes) {
        put(agents(), change.oldAgents);
        put(state(), change.oldState);
        AwarenessTransaction::write(home.path(), change);
        EXPECT_EQ(test::slurp(agents()), change.newAgents);
        EXPECT_EQ(test::slurp(state()), change.newState);
        EXPECT_FALSE(fs::exists(pending()));
        EXPECT_EQ(test::modeOf(agents()) & 0777, 0600u);
    }
}

TEST_F(AwarenessTransactionTest, WriteRefusesWhileAnotherRecordIsPending) {
    record({std::nullopt, std::nullopt, "a", "b"});
    const auto before = test::snapshot(home.path());
    EXPECT_NE(test::outcomeOf([&] {
                  AwarenessTransaction::write(home.path(), {std::nullopt, std::nullopt, "x", "y"});
              }),
              test::kPassed);
    EXPECT_EQ(test::snapshot(home.path()), before);
}

TEST_F(AwarenessTransactionTest, WriteStopsWhenTheInstructionsChangedAndKeepsTheRecord) {
    put(agents(), "правка пользователя");
    EXPECT_EQ(test::outcomeOf([&] {
                  AwarenessTransaction::write(home.path(), {"старые", std::nullopt, "новые", "{}"});
              }),
              kUnsupported);
    EXPECT_EQ(test::slurp(agents()), "правка пользователя");
    EXPECT_FALSE(fs::exists(state()));
    EXPECT_TRUE(fs::exists(pending()));
}

// A file put back by another program between the commits and the final check makes the pair
// roll back; the caller hears of it instead of reading a success.
TEST_F(AwarenessTransactionTest, WriteFailsWhenAnotherProgramUndidItsWork) {
    const Change change{std::nullopt, std::nullopt, "новые инструкции", "{\"s\":1}"};
    EXPECT_EQ(test::outcomeOf([&] {
                  AwarenessTransaction::writeForTesting(
                      home.path(), change, [&](const std::string& point) {
                          if (point == ".orvek-awareness.json committed")
                              fs::remove(state());
                      });
              }),
              kUnsupported);
    EXPECT_FALSE(fs::exists(agents()));
    EXPECT_FALSE(fs::exists(state()));
    EXPECT_FALSE(fs::exists(pending()));
}

// Every state a crash can leave: the recorded change, what the two files hold now, and what
// recovery must make of it.
TEST_F(AwarenessTransactionTest, RecoveryFinishesOrRollsBack) {
    const std::optional<std::string> none;
    struct Row {
        const char* name;
        Change change;
        std::optional<std::string> agentsNow;
        std::optional<std::string> stateNow;
        std::optional<std::string> agentsAfter;
        std::optional<std::string> stateAfter;
        std::string outcome = test::kPassed;
        bool recordStays = false;
    };
    const std::vector<Row> rows = {
        {"both new", {"A0", "S0", "A1", "S1"}, "A1", "S1", "A1", "S1"},
        {"both old", {"A0", "S0", "A1", "S1"}, "A0", "S0", "A0", "S0"},
        {"instructions new, state old", {"A0", "S0", "A1", "S1"}, "A1", "S0", "A0", "S0"},
        {"created instructions, no state yet", {none, none, "A1", "S1"}, "A1", none, none, none},
        {"nothing created yet", {none, none, "A1", "S1"}, none, none, none, none},
        {"instructions unchanged by the change", {"A", "S0", "A", "S1"}, "A", "S0", "A", "S0"},
        {"instructions edited since",
         {"A0", "S0", "A1", "S1"},
         "A2",
         "S0",
         "A2",
         "S0",
         kUnsupported,
         true},
        {"state neither old nor new",
         {"A0", "S0", "A1", "S1"},
         "A1",
         "S2",
         "A1",
         "S2",
         kUnsupported,
         true},
        {"state new, instructions old",
         {"A0", "S0", "A1", "S1"},
         "A0",
         "S1",
         "A0",
         "S1",
         kUnsupported,
         true},
        {"instructions deleted since",
         {"A0", "S0", "A1", "S1"},
         none,
         "S0",
         none,
         "S0",
         kUnsupported,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        record(row.change);
        put(agents(), row.agentsNow);
        put(state(), row.stateNow);
        EXPECT_EQ(test::outcomeOf([&] { AwarenessTransaction::recovery(home.path()); }),
                  row.outcome);
        EXPECT_EQ(fs::exists(agents()) ? std::optional(test::slurp(agents())) : none,
                  row.agentsAfter);
        EXPECT_EQ(fs::exists(state()) ? std::optional(test::slurp(state())) : none, row.stateAfter);
        EXPECT_EQ(fs::exists(pending()), row.recordStays);
        fs::remove(pending());
    }
}

TEST_F(AwarenessTransactionTest, RecoveryRefusesRecordsItCannotRead) {
    struct Row {
        const char* name;
        std::string record;
        std::string outcome;
    };
    const std::vector<Row> rows = {
        {"not JSON", "{", "json"},
        {"not an object", "[]", "Неподдерживаемый файл настроек."},
        {"no new state", R"({"newAgents":"QQ=="})", kUnsupported},
        {"new state not text", R"({"newAgents":"QQ==","newState":1})", kUnsupported},
        {"not Base64", R"({"newAgents":"Q Q==","newState":"QQ=="})", kUnsupported},
        {"padding inside Base64", R"({"newAgents":"QQ==QUFB","newState":"QQ=="})", kUnsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(pending().filename(), row.record);
        put(agents(), "A");
        const auto before = test::snapshot(home.path());
        EXPECT_EQ(test::outcomeOf([&] { AwarenessTransaction::recovery(home.path()); }),
                  row.outcome);
        EXPECT_EQ(test::snapshot(home.path()), before);
    }
}

TEST_F(AwarenessTransactionTest, RecoveryWithoutARecordDoesNothing) {
    put(agents(), "A");
    const auto before = test::snapshot(home.path());
    AwarenessTransaction::recovery(home.path());
    EXPECT_EQ(test::snapshot(home.path()), before);
}

} // namespace
} // namespace orvek::skills
