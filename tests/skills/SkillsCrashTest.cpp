#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "Outcome.h"
#include "SkillsBench.h"
#include "Snapshot.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "skills/AwarenessTransaction.h"
#include "skills/GlobalSkills.h"
#include "skills/RoleWorkspace.h"
#include "skills/ToolkitPackage.h"

namespace orvek::skills {
namespace {

namespace fs = std::filesystem;

// What the instructions file and the state hold; absent when the file does not exist.
struct Pair {
    std::optional<std::string> agents;
    std::optional<std::string> state;
    bool operator==(const Pair&) const = default;
};

// Both files name the home folder; each run has its own, so it is written as "HOME" here.
Pair pairIn(const test::SkillsBench& bench) {
    const auto content = [&](const fs::path& path) -> std::optional<std::string> {
        if (!fs::exists(path))
            return std::nullopt;
        auto text = test::slurp(path);
        for (auto home : {bench.home.path().string(), base::json(bench.home.path().string())}) {
            home = home.front() == '"' ? home.substr(1, home.size() - 2) : home;
            for (auto at = text.find(home); at != std::string::npos; at = text.find(home, at))
                text.replace(at, home.size(), "HOME");
        }
        return text;
    };
    return {content(bench.global() / "AGENTS.md"),
            content(bench.global() / ".orvek-awareness.json")};
}

base::ProcessResult runChild(const std::string& command, const test::SkillsBench& bench,
                             const std::string& role, long killAt) {
    return base::run(ORVEK_SKILLS_CHILD,
                     {command, bench.home.path().string(), role, std::to_string(killAt)},
                     std::nullopt, 120);
}

std::vector<std::string> points(const std::string& command, const test::SkillsBench& bench,
                                const std::string& role) {
    const auto result = runChild(command, bench, role, 0);
    EXPECT_EQ(result.status, 0) << result.standardError;
    std::vector<std::string> lines;
    std::istringstream in(result.standardOutput);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void writePackage(const test::SkillsBench& bench) {
    bench.package("common/README.md", "общий");
    bench.package("profiles/developer/AGENTS.md", "разработка");
    bench.package("profiles/developer/.opencode/skills/orvek-code/SKILL.md", "code");
    bench.package("profiles/developer/.opencode/skills/orvek-code/check.sh", "#!/bin/sh\n");
    bench.package("profiles/analyst/AGENTS.md", "аналитика");
    bench.package("profiles/analyst/.opencode/skills/orvek-data/SKILL.md", "data");
}

// Kills the installation of the analyst's skills at every point of the transaction, for each
// starting state of the instructions file, and checks that the pair is never half-committed.
TEST(SkillsCrashTest, AKilledAwarenessTransactionLeavesBothFilesOldOrBothNew) {
    struct Row {
        const char* name;
        std::function<void(const test::SkillsBench&)> arrange;
    };
    const std::vector<Row> rows = {
        {"no instructions file", [](const test::SkillsBench&) {}},
        {"a user file without a section",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/AGENTS.md", "Мои правила.\nБез раздела.");
         }},
        {"a file with the wizard's section",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/AGENTS.md", "Сверху.\n");
             const auto package =
                 bundledFiles(bench.core(), {"toolkit/common", "toolkit/profiles/developer"});
             installGlobal(bench.core(), package, std::string("developer"),
                           bench.home / "ws-developer");
             bench.home.write(".config/opencode/AGENTS.md",
                              test::slurp(bench.global() / "AGENTS.md") + "\nСнизу.\n");
         }},
    };
    int kills = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // What a run that is never interrupted leaves: the new pair.
        test::SkillsBench reference;
        writePackage(reference);
        row.arrange(reference);
        const auto old = pairIn(reference);
        const auto steps = points("global", reference, "analyst");
        ASSERT_GE(steps.size(), 3u);
        const auto fresh = pairIn(reference);
        ASSERT_NE(fresh, old);

        for (long killAt = 1; killAt <= static_cast<long>(steps.size()); ++killAt) {
            SCOPED_TRACE("killed at " + steps[killAt - 1]);
            test::SkillsBench bench;
            writePackage(bench);
            row.arrange(bench);
            const auto result = runChild("global", bench, "analyst", killAt);
            ASSERT_TRUE(result.signaled) << result.standardError;
            ++kills;

            AwarenessTransaction::recovery(bench.global());
            const auto after = pairIn(bench);
            EXPECT_TRUE(after == old || after == fresh);
            EXPECT_FALSE(fs::exists(bench.global() / ".orvek-awareness-pending.json"));

            const auto package =
                bundledFiles(bench.core(), {"toolkit/common", "toolkit/profiles/analyst"});
            installGlobal(bench.core(), package, std::string("analyst"), bench.home / "ws-analyst");
            EXPECT_EQ(pairIn(bench), fresh);
        }
    }
    RecordProperty("kills", kills);
}

TEST(SkillsCrashTest, AKilledWorkspaceCreationLeavesNoWorkspaceOrAWholeOne) {
    test::SkillsBench reference;
    writePackage(reference);
    const auto steps = points("workspace", reference, "developer");
    const auto folder = reference.home / "Documents/Orvek Workspaces/developer";
    const auto whole = test::snapshot(folder);
    ASSERT_FALSE(whole.empty());

    int kills = 0;
    for (long killAt = 1; killAt <= static_cast<long>(steps.size()); ++killAt) {
        SCOPED_TRACE("killed at " + steps[killAt - 1]);
        test::SkillsBench bench;
        writePackage(bench);
        const auto result = runChild("workspace", bench, "developer", killAt);
        ASSERT_TRUE(result.signaled) << result.standardError;
        ++kills;

        const auto workspace = bench.home / "Documents/Orvek Workspaces/developer";
        if (fs::exists(workspace)) {
            EXPECT_EQ(test::snapshot(workspace), whole);
        }
        EXPECT_EQ(test::outcomeOf([&] { (void)prepareProfile(bench.core(), "developer"); }),
                  test::kPassed);
        EXPECT_EQ(test::snapshot(workspace), whole);
    }
    RecordProperty("kills", kills);
}

} // namespace
} // namespace orvek::skills
