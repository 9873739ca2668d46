#pragma once

#include <optional>
#include <string_view>

namespace orvek::installer {

/// The shapes the engine accepts in a payload manifest, shared with the release's manifest tool
/// so that a manifest it writes is one the engine reads.
namespace PayloadRules {

/// A download address the engine fetches: "https://" and nothing weaker.
[[nodiscard]] bool isDownloadUrl(std::string_view url) noexcept;
/// The publisher's signing team: exactly ten characters of A–Z and 0–9.
[[nodiscard]] bool isTeamIdentifier(std::string_view team) noexcept;
/// The one entry of a helper archive listing ("orvek" or "./orvek", empty lines ignored);
/// absent for any other listing, a second entry or a path inside a folder included.
[[nodiscard]] std::optional<std::string_view> helperEntry(std::string_view listing) noexcept;

} // namespace PayloadRules

} // namespace orvek::installer
