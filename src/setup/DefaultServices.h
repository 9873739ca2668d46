#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "installer/InstallerCore.h"
#include "setup/SetupServices.h"
#include "setup/Workspace.h"

namespace orvek::setup {

/// The folder of resources shipped with the running executable: "Contents/Resources" of a
/// macOS bundle, otherwise "resources" beside the executable. Absent when it does not exist.
[[nodiscard]] std::optional<std::filesystem::path> bundledResources();

/// The record the application runs with: `main` installs then connects on `core`, `open` opens
/// the application `core` verified. The engine is shared by every operation for the life of the
/// record, so `open` opens what `install` found or installed. `workspace` must outlive it.
[[nodiscard]] SetupServices defaultServices(std::shared_ptr<installer::InstallerCore> core,
                                            Workspace& workspace);

} // namespace orvek::setup
