#include "installer/PayloadRules.h"

#include <algorithm>

#include "base/Pieces.h"

namespace orvek::installer::PayloadRules {

bool isDownloadUrl(std::string_view url) noexcept {
    return url.starts_with("https://");
}

bool isTeamIdentifier(std::string_view team) noexcept {
    return team.size() == 10 && std::all_of(team.begin(), team.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

std::optional<std::string_view> helperEntry(std::string_view listing) noexcept {
    std::optional<std::string_view> entry;
    for (const auto line : base::Pieces(listing, '\n')) {
        if (line.empty())
            continue;
        // Only one plain file may come out of the archive: a second line is refusal enough.
        if (entry)
            return std::nullopt;
        entry = line;
    }
    if (entry && (*entry == "orvek" || *entry == "./orvek"))
        return entry;
    return std::nullopt;
}

} // namespace orvek::installer::PayloadRules
