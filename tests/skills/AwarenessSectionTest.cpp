#include <gtest/gtest.h>

#include "Outcome.h"
#include "base/Json.h"
#include "skills/AwarenessSection.h"

namespace orvek::skills {
namespace {

constexpr const char* kNotUtf8 = "Инструкции должны быть в UTF-8.";
constexpr const char* kRemoved = "Управляемый раздел инструкций удалён. Файл сохранён.";
constexpr const char* kChanged = "Управляемый раздел инструкций изменён. Файл сохранён.";

const std::string kBegin = "<!-- ORVEK GLOBAL AWARENESS BEGIN -->";
const std::string kEnd = "<!-- ORVEK GLOBAL AWARENESS END -->";

std::string section(const SkillCatalogue& catalogue = {}, const ProfileFolders& profiles = {}) {
    return awarenessSection("/Users/anna/.config/opencode", catalogue, profiles);
}

TEST(AwarenessSectionTest, ListsSkillNamesOnceSortedAndWorkspacesByRole) {
    const SkillCatalogue catalogue = {
        {"skills/orvek-video-edit/SKILL.md", "1"},
        {"skills/orvek-video-edit/scripts/cut.sh", "2"},
        {"skills/orvek-code-review/SKILL.md", "3"},
        {"skills/orvek-code-review/extra/SKILL.md", "4"},
        {"skills/SKILL.md", "5"},
    };
    const ProfileFolders profiles = {
        {"video", "/Users/anna/Movies/Orvek Studio"},
        {"developer", "/Users/anna/Documents/Orvek Workspaces/developer"}};
    const auto text = section(catalogue, profiles);

    EXPECT_TRUE(text.starts_with(
        kBegin +
        "\n# Орвек: навыки и возможности во всех папках\nПеред работой учитывай реально "
        "перечисленные доступные навыки и прочитай подходящий SKILL.md из глобального "
        "каталога навыков: /Users/anna/.config/opencode/skills.\nУстановленные навыки: "
        "SKILL.md, orvek-code-review, orvek-video-edit.\nУстановленные направления и рабочие "
        "папки:\n- developer: /Users/anna/Documents/Orvek Workspaces/developer\n- video: "
        "/Users/anna/Movies/Orvek Studio\nИспользуй актуальный список MCP-инструментов"))
        << text;
    EXPECT_TRUE(text.ends_with("Не обходи CAPTCHA и 2FA.\n" + kEnd)) << text;
}

TEST(AwarenessSectionTest, EmptyListsLeaveTheirPunctuation) {
    const auto text = section();
    EXPECT_NE(text.find("навыков: /Users/anna/.config/opencode/skills.\nУстановленные навыки: "
                        ".\nУстановленные направления и рабочие папки:\n\nИспользуй"),
              std::string::npos)
        << text;
}

TEST(AwarenessSectionTest, PlacesTheSectionAndKeepsTheUsersText) {
    const auto stored = section({}, {{"analyst", "/a"}});
    const auto fresh = section({{"skills/orvek-x/SKILL.md", "1"}}, {{"analyst", "/a"}});
    struct Row {
        const char* name;
        std::optional<std::string> agents;
        std::optional<std::string> stored;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"no file", std::nullopt, std::nullopt, fresh},
        {"an empty file", "", std::nullopt, fresh},
        {"text ending without a line feed", "Мои правила.", std::nullopt, "Мои правила.\n" + fresh},
        {"text ending with a line feed", "Мои правила.\n", std::nullopt, "Мои правила.\n" + fresh},
        {"text ending with CR LF", "Правила\r\n", std::nullopt, "Правила\r\n" + fresh},
        {"the section between the user's text", "До\n" + stored + "\nПосле\n", stored,
         "До\n" + fresh + "\nПосле\n"},
        {"the section glued to the text", "До" + stored + "После", stored,
         "До\n" + fresh + "После"},
        {"the section alone", stored, stored, fresh},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto placed = placeSection(row.agents, row.stored, fresh);
        EXPECT_EQ(placed.agents, row.expected);
        EXPECT_EQ(placed.section, fresh);
    }
}

TEST(AwarenessSectionTest, RefusesSectionsTheUserChanged) {
    const auto stored = section({}, {{"analyst", "/a"}});
    auto edited = stored;
    edited[edited.find("analyst")] = 'A';
    struct Row {
        const char* name;
        std::optional<std::string> agents;
        std::optional<std::string> stored;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"not UTF-8", std::string("Правила \xff"), std::nullopt, kNotUtf8},
        {"not UTF-8 with a section", "\xc3(" + stored, stored, kNotUtf8},
        {"removed section", "Правила\n", stored, kRemoved},
        {"deleted file", std::nullopt, stored, kRemoved},
        {"edited section", edited, stored, kChanged},
        {"two begin markers", kBegin + "\n" + stored, stored, kChanged},
        {"a begin marker after the section", stored + "\n" + kBegin, stored, kChanged},
        {"two end markers", stored + "\n" + kEnd, stored, kChanged},
        {"only a begin marker", "x\n" + kBegin + "\n", stored, kChanged},
        {"end before begin", kEnd + "\n" + kBegin, stored, kChanged},
        {"markers but nothing recorded", stored, std::nullopt, kChanged},
        {"the section twice", stored + stored, stored, kChanged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(test::outcomeOf([&] { (void)placeSection(row.agents, row.stored, stored); }),
                  row.expected);
    }
}

TEST(AwarenessSectionTest, StateIsCompactSortedJson) {
    const auto bytes = awarenessState({{"skills/b/SKILL.md", "h2"}, {"skills/a/SKILL.md", "h1"}},
                                      {{"video", "/m/s"}}, "S");
    EXPECT_EQ(bytes, R"({"hashes":{"skills\/a\/SKILL.md":"h1","skills\/b\/SKILL.md":"h2"},)"
                     R"("profiles":{"video":"\/m\/s"},"section":"S"})");
}

} // namespace
} // namespace orvek::skills
