#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "installer/InstallerCore.h"
#include "setup/SetupServices.h"

namespace orvek::sandbox {

/// One prepared situation of the simulated Mac and the outcome the run must reach there.
struct Scenario {
    std::string name;
    std::string summary;
    bool helperConfigured = false;
    std::string setupOutcome; // empty: the sign-in succeeds; "locked": another run holds the lock
    bool expectReady = true;
};

[[nodiscard]] const std::vector<Scenario>& scenarios();

/// Puts the stand-in helper into the engine's helper location, in the scenario's state.
void prepareHome(const installer::InstallerCore& core, const Scenario& scenario);

/// The main operation for the sandbox: the progress of a whole run, with the connection half
/// driven through the real process runner against the stand-in helper.
[[nodiscard]] setup::SetupServices scriptedServices(installer::InstallerCore& core);

} // namespace orvek::sandbox
