#include <gtest/gtest.h>

#include <filesystem>

#include "Outcome.h"
#include "SkillsBench.h"
#include "Snapshot.h"
#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "skills/RoleWorkspace.h"

namespace orvek::skills {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOccupied = "code WORKSPACE_CONFLICT: Рабочая папка занята. Выберите другую "
                                  "папку; существующие файлы сохранены.";
constexpr const char* kMismatch = "code WORKSPACE_CONFLICT: Рабочая папка уже существует или пакет "
                                  "изменился. Её файлы сохранены.";
constexpr const char* kContentsChanged =
    "code WORKSPACE_CONFLICT: Состав рабочей папки изменён. Её файлы сохранены.";

// A small package of two roles in a fresh home.
struct PackageFixture {
    PackageFixture() {
        bench.package("common/README.md", "общий");
        bench.package("profiles/developer/AGENTS.md", "инструкции");
        bench.package("profiles/developer/tools/check.sh", "#!/bin/sh\n");
        bench.package("profiles/developer/tools/report.py", "print(1)\n");
        bench.package("profiles/developer/tools/notes.shx", "x");
        bench.package("profiles/developer/.opencode/skills/orvek-code/SKILL.md", "skill");
        bench.package("profiles/video/AGENTS.md", "видео");
        bench.package("profiles/video/.opencode/opencode.jsonc", "{\"stale\":true}");
    }
    [[nodiscard]] fs::path developer() const {
        return bench.home / "Documents/Orvek Workspaces/developer";
    }
    [[nodiscard]] fs::path prepare(const std::string& role,
                                   const std::optional<fs::path>& parent = std::nullopt) const {
        return prepareProfile(bench.core(), role, parent);
    }

    test::SkillsBench bench;
};

class RoleWorkspaceTest : public ::testing::Test, protected PackageFixture {};

TEST_F(RoleWorkspaceTest, CreatesTheWorkspaceWithModesMarkerAndGlobalSkills) {
    EXPECT_EQ(prepare("developer"), developer());

    const auto files = test::snapshot(developer());
    EXPECT_EQ(files.at("README.md").content, "общий");
    EXPECT_EQ(files.at("AGENTS.md").content, "инструкции");
    EXPECT_EQ(files.at("AGENTS.md").mode, 0600u);
    EXPECT_EQ(files.at("tools/check.sh").mode, 0700u);
    EXPECT_EQ(files.at("tools/report.py").mode, 0700u);
    EXPECT_EQ(files.at("tools/notes.shx").mode, 0600u);
    EXPECT_EQ(files.at("tools").mode, 0700u);
    EXPECT_EQ(files.at(".opencode/skills/orvek-code/SKILL.md").content, "skill");
    EXPECT_EQ(test::modeOf(bench.home / "Documents/Orvek Workspaces") & 0777, 0700u);

    const auto marker = base::JsonValue::parse(files.at(".orvek-profile.json").content);
    EXPECT_EQ(marker["Profile"], "developer");
    EXPECT_EQ(marker["Version"], 1);
    EXPECT_EQ(marker["Hashes"].size(), 6u);
    EXPECT_EQ(marker["Hashes"]["tools/check.sh"], base::hash("#!/bin/sh\n"));
    EXPECT_EQ(test::slurp(bench.global() / "skills/orvek-code/SKILL.md"), "skill");

    // Nothing of the staging folder is left beside it.
    for (const auto& entry : fs::directory_iterator(developer().parent_path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".orvek-stage-"));
}

TEST_F(RoleWorkspaceTest, TheSecondCallAdoptsWithoutWritingIntoTheWorkspace) {
    (void)prepare("developer");
    bench.home.write("Documents/Orvek Workspaces/developer/README.md", "моя правка");
    const auto before = test::snapshot(developer(), true);
    EXPECT_EQ(prepare("developer"), developer());
    EXPECT_EQ(test::snapshot(developer(), true), before);
}

TEST_F(RoleWorkspaceTest, RefusesFoldersItCannotAdopt) {
    struct Row {
        const char* name;
        std::function<void(PackageFixture&)> arrange;
        std::string expected;
    };
    const auto marker = [](PackageFixture& test, const base::JsonValue& value) {
        test.bench.home.write("Documents/Orvek Workspaces/developer/.orvek-profile.json",
                              base::json(value));
    };
    const std::vector<Row> rows = {
        {"an empty folder", [](PackageFixture& test) { fs::create_directories(test.developer()); },
         kOccupied},
        {"a file under the workspace's name",
         [](PackageFixture& test) {
             test.bench.home.write("Documents/Orvek Workspaces/developer", "файл");
         },
         kOccupied},
        {"the marker deleted",
         [](PackageFixture& test) {
             (void)test.prepare("developer");
             fs::remove(test.developer() / ".orvek-profile.json");
         },
         kOccupied},
        {"another role's marker",
         [&](PackageFixture& test) {
             (void)test.prepare("developer");
             auto value = base::readObject(test.developer() / ".orvek-profile.json");
             value["Profile"] = "analyst";
             fs::remove(test.developer() / ".orvek-profile.json");
             marker(test, value);
         },
         kMismatch},
        {"another version",
         [&](PackageFixture& test) {
             (void)test.prepare("developer");
             auto value = base::readObject(test.developer() / ".orvek-profile.json");
             value["Version"] = 2;
             fs::remove(test.developer() / ".orvek-profile.json");
             marker(test, value);
         },
         kMismatch},
        {"the version as text",
         [&](PackageFixture& test) {
             (void)test.prepare("developer");
             auto value = base::readObject(test.developer() / ".orvek-profile.json");
             value["Version"] = "1";
             fs::remove(test.developer() / ".orvek-profile.json");
             marker(test, value);
         },
         kMismatch},
        {"a newer package",
         [](PackageFixture& test) {
             (void)test.prepare("developer");
             test.bench.package("profiles/developer/AGENTS.md", "новые инструкции");
         },
         kMismatch},
        {"a workspace file deleted",
         [](PackageFixture& test) {
             (void)test.prepare("developer");
             fs::remove(test.developer() / "tools/check.sh");
         },
         kContentsChanged},
        {"a workspace file replaced by a folder",
         [](PackageFixture& test) {
             (void)test.prepare("developer");
             fs::remove(test.developer() / "README.md");
             fs::create_directory(test.developer() / "README.md");
         },
         kContentsChanged},
        {"a marker that is no object",
         [&](PackageFixture& test) {
             fs::create_directories(test.developer());
             test.bench.home.write("Documents/Orvek Workspaces/developer/.orvek-profile.json",
                                   "[1]");
         },
         "Неподдерживаемый файл настроек."},
        {"an unknown role", [](PackageFixture&) {}, "Неизвестное направление."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PackageFixture test;
        row.arrange(test);
        const auto before = test::snapshot(test.bench.home.path(), true);
        const std::string role =
            std::string(row.name) == "an unknown role" ? "tester" : "developer";
        EXPECT_EQ(test::outcomeOf([&] { (void)test.prepare(role); }), row.expected);
        EXPECT_EQ(test::snapshot(test.bench.home.path(), true), before);
    }
}

TEST_F(RoleWorkspaceTest, AnotherParentGetsAFreshFolderEachTime) {
    fs::create_directories(developer());
    const auto parent = bench.home / "Проекты";
    fs::create_directories(parent);
    const auto first = prepare("developer", parent);
    const auto second = prepare("developer", parent);
    EXPECT_NE(first, second);
    for (const auto& folder : {first, second}) {
        EXPECT_EQ(folder.parent_path(), parent);
        const auto name = folder.filename().string();
        EXPECT_TRUE(name.starts_with("Orvek-developer-")) << name;
        EXPECT_EQ(name.size(), std::string("Orvek-developer-").size() + 36) << name;
        EXPECT_EQ(name.find_first_of("abcdef", 16), std::string::npos) << name;
        EXPECT_TRUE(fs::exists(folder / ".orvek-profile.json"));
    }
    EXPECT_TRUE(fs::is_empty(developer()));
}

TEST_F(RoleWorkspaceTest, VideoNeedsTheHelperAndGetsGeneratedSettings) {
    EXPECT_NE(test::outcomeOf([&] { (void)prepare("video"); }), test::kPassed);
    EXPECT_FALSE(fs::exists(bench.home / "Movies"));
    EXPECT_FALSE(fs::exists(bench.global()));

    bench.installHelper();
    const auto folder = prepare("video");
    EXPECT_EQ(folder, bench.home / "Movies/Orvek Studio");
    const auto settings = test::slurp(folder / ".opencode/opencode.jsonc");
    EXPECT_EQ(settings,
              R"({"mcp":{"orvek":{"command":[")" +
                  base::json(bench.core().helper().string()).substr(1) +
                  R"(,"mcp"],"enabled":true,"environment":{"ORVEK_TOKEN_STORAGE":"file"},)"
                  R"("timeout":60000,"type":"local"}}})");
    EXPECT_EQ(prepare("video"), folder);
}

TEST_F(RoleWorkspaceTest, WithoutTheEarlierRecordNoVideoMarkerPassesForTheEarlierOne) {
    bench.installHelper();
    const base::JsonValue settings = {{"mcp", {{"orvek", bench.core().mcpConfiguration()}}}};
    const auto generated = base::json(settings);
    struct Row {
        const char* name;
        base::JsonValue hashes;
    };
    const std::vector<Row> rows = {
        {"only the generated settings", {{".opencode/opencode.jsonc", base::hash(generated)}}},
        {"no files at all", base::JsonValue::object()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(bench.home / "Movies");
        bench.home.write("Movies/Orvek Studio/.opencode/opencode.jsonc", generated);
        bench.home.write(
            "Movies/Orvek Studio/.orvek-profile.json",
            base::json({{"Hashes", row.hashes}, {"Profile", "video"}, {"Version", 1}}));
        const auto before = test::snapshot(bench.home.path(), true);
        EXPECT_EQ(test::outcomeOf([&] { (void)prepare("video"); }), kMismatch);
        EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    }
}

TEST_F(RoleWorkspaceTest, AFolderMadeJustBeforeTheMoveIsNotReplaced) {
    const auto outcome = test::outcomeOf([&] {
        (void)prepareProfileForTesting(bench.core(), "developer", std::nullopt,
                                       [&](const std::string& point) {
                                           if (point == "marked")
                                               fs::create_directory(developer());
                                       });
    });
    EXPECT_EQ(outcome, "errno 17 at " + developer().string());
    EXPECT_TRUE(fs::is_empty(developer()));
    for (const auto& entry : fs::directory_iterator(developer().parent_path()))
        EXPECT_EQ(entry.path(), developer());
}

TEST_F(RoleWorkspaceTest, APackageWithoutInstructionsIsRefused) {
    fs::remove(bench.resources() / "toolkit/profiles/developer/AGENTS.md");
    EXPECT_EQ(test::outcomeOf([&] { (void)prepare("developer"); }),
              "В пакете отсутствуют инструкции направления.");
    EXPECT_FALSE(fs::exists(bench.home / "Documents"));
}

TEST_F(RoleWorkspaceTest, ALinkInTheWorkspacePathIsRefused) {
    fs::create_directories(bench.home / "elsewhere");
    fs::create_directory_symlink(bench.home / "elsewhere", bench.home / "Documents");
    EXPECT_EQ(test::outcomeOf([&] { (void)prepare("developer"); }),
              "Путь содержит символическую ссылку. Выберите обычную локальную папку.");
    EXPECT_TRUE(fs::is_empty(bench.home / "elsewhere"));
}

// The shipped package, for every role, and the video workspace of the earlier release.
class ShippedToolkitTest : public ::testing::Test {
protected:
    ShippedToolkitTest() {
        bench.useShippedToolkit();
        bench.installHelper();
    }
    test::SkillsBench bench;
};

TEST_F(ShippedToolkitTest, EveryRolePreparesAndAdoptsItsWorkspace) {
    for (const auto& role : installer::InstallerCore::profileIDs) {
        SCOPED_TRACE(std::string(role));
        const auto folder = prepareProfile(bench.core(), std::string(role));
        EXPECT_TRUE(fs::exists(folder / "AGENTS.md"));
        EXPECT_EQ(prepareProfile(bench.core(), std::string(role)), folder);
    }
    const auto state = base::readObject(bench.global() / ".orvek-awareness.json");
    EXPECT_EQ(state["profiles"].size(), 5u);
    const auto agents = test::slurp(bench.global() / "AGENTS.md");
    for (const auto* skill : {"orvek-video-director", "orvek-video-edit", "orvek-video-generate"})
        EXPECT_NE(agents.find(skill), std::string::npos) << skill;
}

TEST_F(ShippedToolkitTest, TheEarlierVideoWorkspaceIsAdoptedAndAnEditedOneIsNot) {
    const auto folder = bench.home / "Movies/Orvek Studio";
    const auto build = [&] {
        fs::remove_all(folder);
        fs::create_directories(folder.parent_path());
        const auto copy = base::run(
            "/bin/cp", {"-R", ORVEK_LEGACY_VIDEO_WORKSPACE, folder.string()}, std::nullopt, 60);
        ASSERT_EQ(copy.status, 0) << copy.standardError;
        const base::JsonValue settings = {{"mcp", {{"orvek", bench.core().mcpConfiguration()}}}};
        const auto generated = base::json(settings);
        bench.home.write("Movies/Orvek Studio/.opencode/opencode.jsonc", generated);
        auto hashes = base::readObject(bench.resources() / "toolkit/video-legacy-mac-hashes.json");
        hashes[".opencode/opencode.jsonc"] = base::hash(generated);
        bench.home.write("Movies/Orvek Studio/.orvek-profile.json",
                         base::json({{"Hashes", hashes}, {"Profile", "video"}, {"Version", 1}}));
    };

    build();
    const auto before = test::snapshot(folder, true);
    EXPECT_EQ(prepareProfile(bench.core(), "video"), folder);
    EXPECT_EQ(test::snapshot(folder, true), before);

    // A marker that no longer lists the earlier files is neither current nor earlier.
    build();
    auto marker = base::readObject(folder / ".orvek-profile.json");
    marker["Hashes"].erase(marker["Hashes"].begin());
    fs::remove(folder / ".orvek-profile.json");
    bench.home.write("Movies/Orvek Studio/.orvek-profile.json", base::json(marker));
    EXPECT_EQ(test::outcomeOf([&] { (void)prepareProfile(bench.core(), "video"); }), kMismatch);
}

} // namespace
} // namespace orvek::skills
