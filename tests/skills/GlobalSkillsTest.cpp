#include <gtest/gtest.h>

#include <filesystem>

#include "Outcome.h"
#include "SkillsBench.h"
#include "Snapshot.h"
#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "skills/AwarenessSection.h"
#include "skills/GlobalSkills.h"

namespace orvek::skills {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStateDamaged = "Каталог глобальных навыков повреждён. Файлы сохранены.";
constexpr const char* kCatalogueDamaged = "Повреждён каталог глобальных навыков.";
constexpr const char* kExists =
    "Глобальный навык изменён или уже существует. Пользовательские файлы сохранены.";
constexpr const char* kOwnedChanged =
    "Ранее установленный глобальный навык изменён. Файлы сохранены.";

const PackageMap kDeveloper = {
    {"AGENTS.md", "dev"},
    {"templates/brief.md", "brief"},
    {".opencode/skills/orvek-code/SKILL.md", "code skill"},
    {".opencode/skills/orvek-code/checklist.md", "checklist"},
};
const PackageMap kAnalyst = {
    {"AGENTS.md", "analyst"},
    {".opencode/skills/orvek-data/SKILL.md", "data skill"},
};

class GlobalSkillsTest : public ::testing::Test {
protected:
    void install(const PackageMap& package, const std::string& role) {
        installGlobal(bench.core(), package, role, bench.home / ("ws-" + role));
    }
    [[nodiscard]] base::JsonValue state() const {
        return base::readObject(bench.global() / ".orvek-awareness.json");
    }
    [[nodiscard]] std::string skill(const std::string& name) const {
        return test::slurp(bench.global() / name);
    }

    test::SkillsBench bench;
};

TEST_F(GlobalSkillsTest, FirstRunInstallsTheSkillsAndRecordsThemWithTheSection) {
    install(kDeveloper, "developer");

    EXPECT_EQ(skill("skills/orvek-code/SKILL.md"), "code skill");
    EXPECT_EQ(skill("skills/orvek-code/checklist.md"), "checklist");
    EXPECT_FALSE(fs::exists(bench.global() / "templates"));
    EXPECT_EQ(test::modeOf(bench.global() / "skills/orvek-code/SKILL.md") & 0777, 0600u);
    EXPECT_EQ(test::modeOf(bench.global() / "skills/orvek-code") & 0777, 0700u);

    const auto recorded = state();
    EXPECT_EQ(recorded["hashes"],
              base::JsonValue({{"skills/orvek-code/SKILL.md", base::hash("code skill")},
                               {"skills/orvek-code/checklist.md", base::hash("checklist")}}));
    EXPECT_EQ(recorded["profiles"],
              base::JsonValue({{"developer", (bench.home / "ws-developer").string()}}));
    const auto agents = test::slurp(bench.global() / "AGENTS.md");
    EXPECT_EQ(agents, recorded["section"].get<std::string>());
    EXPECT_NE(agents.find("Установленные навыки: orvek-code.\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(bench.global() / ".orvek-awareness-pending.json"));
}

TEST_F(GlobalSkillsTest, ASecondRoleAddsItsSkillsAndKeepsTheFirst) {
    bench.home.write(".config/opencode/AGENTS.md", "Мои правила.");
    install(kDeveloper, "developer");
    install(kAnalyst, "analyst");

    const auto recorded = state();
    EXPECT_EQ(recorded["hashes"].size(), 3u);
    EXPECT_EQ(recorded["profiles"].size(), 2u);
    const auto agents = test::slurp(bench.global() / "AGENTS.md");
    EXPECT_TRUE(agents.starts_with("Мои правила.\n<!-- ORVEK GLOBAL AWARENESS BEGIN -->"));
    EXPECT_NE(agents.find("Установленные навыки: orvek-code, orvek-data.\n"), std::string::npos);

    // Unchanged skills and roles: both files come out byte for byte the same.
    const auto before = test::snapshot(bench.global());
    install(kAnalyst, "analyst");
    EXPECT_EQ(test::snapshot(bench.global()), before);
}

TEST_F(GlobalSkillsTest, WithoutATargetTheRolesDefaultFolderIsRecorded) {
    installGlobal(bench.core(), kAnalyst, std::string("video"), std::nullopt);
    installGlobal(bench.core(), kAnalyst, std::string("analyst"), std::nullopt);
    EXPECT_EQ(state()["profiles"],
              base::JsonValue(
                  {{"video", (bench.home / "Movies/Orvek Studio").string()},
                   {"analyst", (bench.home / "Documents/Orvek Workspaces/analyst").string()}}));
}

TEST_F(GlobalSkillsTest, RefusalsLeaveEveryFileAsItWas) {
    struct Row {
        const char* name;
        std::function<void(const test::SkillsBench&)> arrange;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"an owned skill edited by the user",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/skills/orvek-code/checklist.md", "моя правка");
         },
         kOwnedChanged},
        {"a foreign skill where the package puts one",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/skills/orvek-data/SKILL.md", "чужой навык");
         },
         kExists},
        {"an owned skill deleted",
         [](const test::SkillsBench& bench) {
             fs::remove(bench.global() / "skills/orvek-code/SKILL.md");
         },
         "errno 2 at "},
        {"the section edited",
         [](const test::SkillsBench& bench) {
             auto text = test::slurp(bench.global() / "AGENTS.md");
             text.replace(text.find("Орвек"), 10, "Orvek");
             bench.home.write(".config/opencode/AGENTS.md", text);
         },
         "Управляемый раздел инструкций изменён. Файл сохранён."},
        {"the section removed",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/AGENTS.md", "Только мои правила.\n");
         },
         "Управляемый раздел инструкций удалён. Файл сохранён."},
        {"instructions not UTF-8",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/AGENTS.md", "\xfe\xff");
         },
         "Инструкции должны быть в UTF-8."},
        {"state not an object",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json", "[]");
         },
         "Неподдерживаемый файл настроек."},
        {"state without profiles",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{},"section":""})");
         },
         kStateDamaged},
        {"state with a number hash",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{"skills/a":1},"profiles":{},"section":""})");
         },
         kStateDamaged},
        {"state with a section that is no text",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{},"profiles":{},"section":null})");
         },
         kStateDamaged},
        {"catalogue name climbing out",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{"skills/../x":"h"},"profiles":{},"section":""})");
         },
         kCatalogueDamaged},
        {"catalogue name with a backslash",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{"skills\\x":"h"},"profiles":{},"section":""})");
         },
         kCatalogueDamaged},
        {"catalogue name outside skills",
         [](const test::SkillsBench& bench) {
             bench.home.write(".config/opencode/.orvek-awareness.json",
                              R"({"hashes":{"agents/x":"h"},"profiles":{},"section":""})");
         },
         kCatalogueDamaged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::SkillsBench bench;
        installGlobal(bench.core(), kDeveloper, std::string("developer"), bench.home / "ws");
        row.arrange(bench);
        const auto before = test::snapshot(bench.home.path(), true);
        const auto outcome = test::outcomeOf([&] {
            installGlobal(bench.core(), kAnalyst, std::string("analyst"), bench.home / "a");
        });
        EXPECT_TRUE(outcome.starts_with(row.expected)) << outcome;
        EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    }
}

TEST_F(GlobalSkillsTest, AFileIdenticalToThePackageIsAdopted) {
    bench.home.write(".config/opencode/skills/orvek-data/SKILL.md", "data skill");
    install(kAnalyst, "analyst");
    EXPECT_EQ(state()["hashes"]["skills/orvek-data/SKILL.md"], base::hash("data skill"));
}

TEST_F(GlobalSkillsTest, TheEarlierVideoEditSkillIsUpgradedWithABackup) {
    const std::string earlier = "earlier video edit skill";
    const PackageMap video = {{".opencode/skills/orvek-video-edit/SKILL.md", "new edit skill"}};
    const auto upgrade = [&](std::string_view known) {
        installGlobalForTesting(bench.core(), video, std::string("video"), bench.home / "v", known,
                                {});
    };
    // The earlier release recorded the skill it installed, with the section it wrote.
    const SkillCatalogue catalogue = {{"skills/orvek-video-edit/SKILL.md", base::hash(earlier)}};
    const auto section = awarenessSection(bench.global(), catalogue, {});
    bench.home.write(".config/opencode/skills/orvek-video-edit/SKILL.md", earlier);
    bench.home.write(".config/opencode/AGENTS.md", section);
    bench.home.write(".config/opencode/.orvek-awareness.json",
                     awarenessState(catalogue, {}, section));

    // Only the one known earlier content may be replaced.
    EXPECT_EQ(test::outcomeOf([&] { upgrade(kEarlierVideoEditHash); }), kExists);
    upgrade(base::hash(earlier));

    EXPECT_EQ(skill("skills/orvek-video-edit/SKILL.md"), "new edit skill");
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(bench.global() / "skills/orvek-video-edit"))
        if (entry.path().filename().string().starts_with("SKILL.md.backup-"))
            backups.push_back(test::slurp(entry.path()));
    EXPECT_EQ(backups, std::vector<std::string>{earlier});
    EXPECT_EQ(state()["hashes"]["skills/orvek-video-edit/SKILL.md"], base::hash("new edit skill"));
}

TEST_F(GlobalSkillsTest, TheEarlierVideoEditSkillIsKeptUnlessTheStateRecordsIt) {
    const std::string earlier = "earlier video edit skill";
    const PackageMap video = {{".opencode/skills/orvek-video-edit/SKILL.md", "new edit skill"}};
    struct Row {
        const char* name;
        SkillCatalogue catalogue;
    };
    const std::vector<Row> rows = {
        {"the state records other content",
         {{"skills/orvek-video-edit/SKILL.md", base::hash("other edit skill")}}},
        {"the state does not record the skill", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::SkillsBench bench;
        const auto section = awarenessSection(bench.global(), row.catalogue, {});
        bench.home.write(".config/opencode/skills/orvek-video-edit/SKILL.md", earlier);
        bench.home.write(".config/opencode/AGENTS.md", section);
        bench.home.write(".config/opencode/.orvek-awareness.json",
                         awarenessState(row.catalogue, {}, section));
        const auto before = test::snapshot(bench.home.path(), true);
        EXPECT_EQ(test::outcomeOf([&] {
                      installGlobalForTesting(bench.core(), video, std::string("video"),
                                              bench.home / "v", base::hash(earlier), {});
                  }),
                  kExists);
        EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    }
}

} // namespace
} // namespace orvek::skills
