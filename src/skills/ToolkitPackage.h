#pragma once

#include <string>
#include <vector>

#include "installer/InstallerCore.h"
#include "skills/PackageMap.h"

namespace orvek::skills {

/// Loads the package folders `roots` (relative to the engine's resources) into one map. Refuses
/// links anywhere, paths that leave their root, "..", the reserved marker name and a path that
/// two roots share. Throws InstallerFailure (no code) or PlatformError; nothing is written.
[[nodiscard]] PackageMap bundledFiles(const installer::InstallerCore& core,
                                      const std::vector<std::string>& roots);

/// The name of the marker a workspace gets; never part of the package.
inline constexpr const char* kProfileMarkerName = ".orvek-profile.json";

} // namespace orvek::skills
