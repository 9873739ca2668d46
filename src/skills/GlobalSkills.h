#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "installer/InstallerCore.h"
#include "skills/AwarenessTransaction.h"
#include "skills/PackageMap.h"

namespace orvek::skills {

/// SHA-256 of the one earlier "SKILL.md" of the video-editing skill that may be upgraded in
/// place; any other foreign or edited skill file is kept and stops the installation.
inline constexpr const char* kEarlierVideoEditHash =
    "21df9f21a2a62088f62113f66476b3095356d6630c95e7febbd10377f6ac00cf";

/// Installs the package's global skills into OpenCode's global folder, owned by recorded hashes,
/// records `role`'s workspace (`target`, or the role's default folder) and rewrites the managed
/// section of the global "AGENTS.md" with the awareness state in one transaction. Plans
/// everything before writing: every refusal leaves the disk as it was. Throws InstallerFailure
/// or PlatformError.
void installGlobal(const installer::InstallerCore& core, const PackageMap& package,
                   const std::optional<std::string>& role,
                   const std::optional<std::filesystem::path>& target);

/// `installGlobal` with another upgradable earlier hash and a hook into the transaction; only
/// tests use it.
void installGlobalForTesting(const installer::InstallerCore& core, const PackageMap& package,
                             const std::optional<std::string>& role,
                             const std::optional<std::filesystem::path>& target,
                             std::string_view earlierVideoEditHash,
                             const AwarenessTransaction::StepHook& hook);

} // namespace orvek::skills
