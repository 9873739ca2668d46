#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "installer/InstallerCore.h"

namespace orvek::skills {

/// Where a role's workspace lives when the user chose no other parent: "Movies/Orvek Studio"
/// for video, "Documents/Orvek Workspaces/<role>" for the others.
[[nodiscard]] std::filesystem::path defaultWorkspaceFolder(const installer::InstallerCore& core,
                                                           const std::string& role);

/// Gives the user a ready workspace for `role`: built complete in a staging folder and moved
/// into place in one step, or adopted when the wizard built it before; never modified. Under
/// `alternateParent` every call makes a fresh uniquely named folder. Also installs the role's
/// global skills. Returns the workspace folder; throws InstallerFailure ("WORKSPACE_CONFLICT"
/// for a folder that is not the wizard's to adopt) or PlatformError.
[[nodiscard]] std::filesystem::path
prepareProfile(const installer::InstallerCore& core, const std::string& role,
               const std::optional<std::filesystem::path>& alternateParent = std::nullopt);

/// Called by `prepareProfileForTesting` at each point where tests kill the process: "staging"
/// (the empty staging folder exists), each file's relative path once it is written into the
/// staging folder, "marked" (the marker is written) and "moved" (the workspace is in place).
using WorkspaceStepHook = std::function<void(const std::string& point)>;

/// `prepareProfile` with a hook into the creation of a new workspace; only tests use it.
[[nodiscard]] std::filesystem::path
prepareProfileForTesting(const installer::InstallerCore& core, const std::string& role,
                         const std::optional<std::filesystem::path>& alternateParent,
                         const WorkspaceStepHook& hook);

} // namespace orvek::skills
