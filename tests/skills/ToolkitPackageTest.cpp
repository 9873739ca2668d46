#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include <filesystem>
#include <functional>

#include "Fixtures.h"
#include "Outcome.h"
#include "SkillsBench.h"
#include "skills/ToolkitPackage.h"

namespace orvek::skills {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMissing = "Пакет направления отсутствует.";
constexpr const char* kIncomplete = "Не удалось прочитать пакет направления целиком.";
constexpr const char* kDamaged = "Повреждён пакет направления.";
constexpr const char* kLink =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

const std::vector<std::string> kRoots = {"toolkit/common", "toolkit/profiles/developer"};

TEST(ToolkitPackageTest, MergesBothRootsByRelativePathWithHiddenFilesAndFullContent) {
    test::SkillsBench bench;
    const auto large = test::pseudoRandomBytes(1024 * 1024 + 17, 3);
    bench.package("common/guide.md", "общее");
    bench.package("common/templates/brief.md", "бриф");
    bench.package("profiles/developer/AGENTS.md", "инструкции");
    bench.package("profiles/developer/.opencode/skills/orvek-code/SKILL.md", "навык");
    bench.package("profiles/developer/templates/review.md", "ревью");
    bench.package("profiles/developer/nested/.orvek-profile.json", "{}");
    bench.package("profiles/developer/big.bin", large);
    bench.package("profiles/analyst/AGENTS.md", "другое направление");

    const auto map = bundledFiles(bench.core(), kRoots);

    const PackageMap expected = {
        {"guide.md", "общее"},
        {"templates/brief.md", "бриф"},
        {"AGENTS.md", "инструкции"},
        {".opencode/skills/orvek-code/SKILL.md", "навык"},
        {"templates/review.md", "ревью"},
        {"nested/.orvek-profile.json", "{}"},
        {"big.bin", large},
    };
    EXPECT_EQ(map, expected);
}

TEST(ToolkitPackageTest, EmptyRootsAndAnEmptyListGiveNothing) {
    test::SkillsBench bench;
    fs::create_directories(bench.resources() / "toolkit/common");
    fs::create_directories(bench.resources() / "toolkit/profiles/developer/empty");
    EXPECT_TRUE(bundledFiles(bench.core(), kRoots).empty());
    EXPECT_TRUE(bundledFiles(bench.core(), {}).empty());
}

TEST(ToolkitPackageTest, RefusesDamagedPackages) {
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"the same path in both roots",
         {{"common/AGENTS.md", "a"}, {"profiles/developer/AGENTS.md", "b"}},
         kDamaged},
        {"the same name in different folders is fine",
         {{"common/a/notes.md", "a"}, {"profiles/developer/b/notes.md", "b"}},
         test::kPassed},
        {"the reserved marker at a root",
         {{"common/x.md", "a"}, {"profiles/developer/.orvek-profile.json", "{}"}},
         kDamaged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::SkillsBench bench;
        for (const auto& [path, bytes] : row.files)
            bench.package(path, bytes);
        EXPECT_EQ(test::outcomeOf([&] { (void)bundledFiles(bench.core(), kRoots); }), row.expected);
    }
}

TEST(ToolkitPackageTest, AMissingRootFailsTheLoad) {
    test::SkillsBench bench;
    bench.package("common/guide.md", "общее");
    const auto outcome = test::outcomeOf([&] { (void)bundledFiles(bench.core(), kRoots); });
    EXPECT_TRUE(outcome == kMissing || outcome == kIncomplete) << outcome;
}

// Root reads every folder whatever its mode; for as long as this lives the calling thread
// obeys the modes like any user, so an unreadable folder is refused by the kernel itself.
class ObeyingModes {
public:
    ObeyingModes() {
#if defined(__linux__)
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
        m_reduced = ::syscall(SYS_capset, &m_header, reduced) == 0;
#endif
    }
    ~ObeyingModes() {
#if defined(__linux__)
        if (m_reduced)
            (void)::syscall(SYS_capset, &m_header, m_saved);
#endif
    }
    ObeyingModes(const ObeyingModes&) = delete;
    ObeyingModes& operator=(const ObeyingModes&) = delete;

    [[nodiscard]] bool active() const {
        return ::geteuid() != 0 || m_reduced;
    }

private:
#if defined(__linux__)
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
#endif
    bool m_reduced = false;
};

TEST(ToolkitPackageTest, AFolderTheWalkCannotOpenFailsAsIncomplete) {
    test::SkillsBench bench;
    bench.package("common/guide.md", "общее");
    bench.package("profiles/developer/AGENTS.md", "инструкции");
    bench.package("profiles/developer/locked/SKILL.md", "навык");
    const auto locked = bench.resources() / "toolkit/profiles/developer/locked";
    fs::permissions(locked, fs::perms::none);

    std::string outcome;
    {
        const ObeyingModes modes;
        if (!modes.active())
            GTEST_SKIP() << "cannot make root obey folder modes here";
        outcome = test::outcomeOf([&] { (void)bundledFiles(bench.core(), kRoots); });
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(outcome, kIncomplete);
}

TEST(ToolkitPackageTest, RefusesLinksAnywhereEvenWhenTheyPointInside) {
    const std::vector<std::pair<const char*, std::function<void(const test::SkillsBench&)>>> rows =
        {
            {"a linked file",
             [](const test::SkillsBench& bench) {
                 fs::create_symlink("guide.md", bench.resources() / "toolkit/common/copy.md");
             }},
            {"a linked folder",
             [](const test::SkillsBench& bench) {
                 fs::create_directory_symlink("../common",
                                              bench.resources() / "toolkit/profiles/developer/c");
             }},
            {"a linked root",
             [](const test::SkillsBench& bench) {
                 fs::remove_all(bench.resources() / "toolkit/profiles/developer");
                 fs::create_directory_symlink("../common",
                                              bench.resources() / "toolkit/profiles/developer");
             }},
        };
    for (const auto& [name, link] : rows) {
        SCOPED_TRACE(name);
        test::SkillsBench bench;
        bench.package("common/guide.md", "общее");
        bench.package("profiles/developer/AGENTS.md", "инструкции");
        link(bench);
        EXPECT_EQ(test::outcomeOf([&] { (void)bundledFiles(bench.core(), kRoots); }), kLink);
    }
}

} // namespace
} // namespace orvek::skills
