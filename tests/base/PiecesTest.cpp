#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "base/Pieces.h"

namespace orvek::base {
namespace {

std::vector<std::string> all(std::string_view text, char separator) {
    std::vector<std::string> result;
    for (const auto piece : Pieces(text, separator))
        result.emplace_back(piece);
    return result;
}

// Empty pieces are kept, at either end too: callers tell "a//b" from "a/b" and "/a" from "a".
TEST(Pieces, EveryPieceBetweenSeparatorsInOrder) {
    const struct {
        std::string_view text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"/", {"", ""}},
        {"skills/x/SKILL.md", {"skills", "x", "SKILL.md"}},
        {"a//b", {"a", "", "b"}},
        {"/a/", {"", "a", ""}},
        {"../..", {"..", ".."}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(std::string(each.text));
        EXPECT_EQ(all(each.text, '/'), each.pieces);
    }
    EXPECT_EQ(all("orvek\n\n./orvek\n", '\n'),
              (std::vector<std::string>{"orvek", "", "./orvek", ""}));
}

} // namespace
} // namespace orvek::base
