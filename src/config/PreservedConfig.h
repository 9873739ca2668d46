#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/PlatformError.h"

namespace orvek::config {

/// The one way an existing user file is replaced: only while it still holds exactly the bytes
/// the caller based its change on, through a flushed copy with the file's own attributes that
/// is renamed over it in one step. A backup of the replaced bytes stays beside the file.
namespace PreservedConfig {

/// Points of a write where tests stop or kill the process, in the order they are reached.
enum class Step {
    checked,   // the target holds `expected` and may be replaced
    staged,    // the staged copy exists, still with the old bytes
    written,   // the staged copy holds `updated`, flushed
    rechecked, // the target was read again and still holds `expected`
    backedUp,  // the backup copy exists
    verified,  // target and backup both hold `expected`
    renamed,   // the staged copy replaced the target
};

using StepHook = std::function<void(Step)>;

/// The step's name as tests and reports print it: "checked", "backedUp", …
[[nodiscard]] const char* stepName(Step step);

/// The failure of a write whose target changed under it: "CONFIGURATION_CHANGED".
[[nodiscard]] base::InstallerFailure changed();

/// Throws InstallerFailure "CONFIGURATION_UNSUPPORTED" or "CONFIGURATION_CHANGED", the link
/// and size failures of the file primitives, or base::PlatformError.
void write(const std::filesystem::path& target, std::string_view expected,
           std::string_view updated);

/// `write` with a hook called at each step; only tests use it.
void writeForTesting(const std::filesystem::path& target, std::string_view expected,
                     std::string_view updated, const StepHook& hook);

} // namespace PreservedConfig

} // namespace orvek::config
