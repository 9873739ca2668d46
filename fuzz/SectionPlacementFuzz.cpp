// Places the managed section into arbitrary "AGENTS.md" bytes. The first input byte picks what
// was recorded last: nothing, a fixed section, or the span between the markers found in the
// text itself (so the replacement path is reached without the fuzzer guessing a whole section).
// Whatever placement accepts must keep the user's text before and after the section byte for
// byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "skills/AwarenessSection.h"

namespace {

using namespace orvek;

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string_view begin = skills::kAwarenessBegin;
    const std::string_view end = skills::kAwarenessEnd;
    static const auto fixed =
        skills::awarenessSection("/Users/u/.config/opencode", {{"skills/a/SKILL.md", "h"}}, {});
    static const auto fresh = skills::awarenessSection(
        "/Users/u/.config/opencode", {{"skills/b/SKILL.md", "h"}}, {{"video", "/Users/u/M"}});

    std::optional<std::string> stored;
    switch (data[0] % 3) {
    case 1:
        stored = fixed;
        break;
    case 2: {
        const auto from = text.find(begin);
        const auto to = text.find(end);
        if (from != std::string::npos && to != std::string::npos && to >= from)
            stored = text.substr(from, to + end.size() - from);
        break;
    }
    default:
        break;
    }

    skills::PlacedSection placed;
    try {
        placed = skills::placeSection(text, stored, fresh);
    } catch (const base::InstallerFailure&) {
        return 0;
    }
    require(placed.section == fresh);

    const auto from = text.find(begin);
    std::string_view prefix = text;
    std::string_view suffix;
    if (from != std::string::npos) {
        const auto to = text.find(end);
        require(to != std::string::npos && stored &&
                text.compare(from, to + end.size() - from, *stored) == 0);
        prefix = std::string_view(text).substr(0, from);
        suffix = std::string_view(text).substr(to + end.size());
    } else {
        require(text.find(end) == std::string::npos);
    }
    const std::string_view result = placed.agents;
    require(result.starts_with(prefix) && result.ends_with(suffix));
    auto middle = result.substr(prefix.size(), result.size() - prefix.size() - suffix.size());
    // A line feed separates the section from text that does not end a line, and only then.
    const bool separated = !prefix.empty() && !prefix.ends_with('\n') && !prefix.ends_with('\r');
    if (separated) {
        require(middle.starts_with('\n'));
        middle.remove_prefix(1);
    }
    require(middle == fresh);
    return 0;
}
