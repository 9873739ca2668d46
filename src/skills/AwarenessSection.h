#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "base/Bytes.h"

namespace orvek::skills {

/// Catalogue name of an owned global skill file ("skills/…") to the SHA-256 it was installed with.
using SkillCatalogue = std::map<std::string, std::string>;
/// Role id to the absolute path of its workspace folder.
using ProfileFolders = std::map<std::string, std::string>;

inline constexpr const char* kAwarenessBegin = "<!-- ORVEK GLOBAL AWARENESS BEGIN -->";
inline constexpr const char* kAwarenessEnd = "<!-- ORVEK GLOBAL AWARENESS END -->";

/// The managed section of the global "AGENTS.md": the skills of `catalogue` and the workspaces
/// of `profiles`, between the two markers, without a final line feed.
[[nodiscard]] std::string awarenessSection(const std::filesystem::path& globalFolder,
                                           const SkillCatalogue& catalogue,
                                           const ProfileFolders& profiles);

/// "AGENTS.md" with `section` in place of the one stored last, or appended to a file without one.
struct PlacedSection {
    base::Bytes agents;
    std::string section;
};

/// Puts `section` into `agents` (absent: no file). The user's text before and after the stored
/// section is kept byte for byte. Throws InstallerFailure for text that is not UTF-8 and for a
/// section the user removed, changed, duplicated or reordered; nothing is written here.
[[nodiscard]] PlacedSection placeSection(const std::optional<base::Bytes>& agents,
                                         const std::optional<std::string>& storedSection,
                                         const std::string& section);

/// The awareness state file's bytes: compact, keys sorted.
[[nodiscard]] base::Bytes awarenessState(const SkillCatalogue& catalogue,
                                         const ProfileFolders& profiles,
                                         const std::string& section);

} // namespace orvek::skills
