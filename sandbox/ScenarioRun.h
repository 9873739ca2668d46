#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Scenarios.h"

namespace orvek::sandbox {

/// How to run a scenario from the command line.
struct RunOptions {
    /// The simulated user's home; a throwaway folder when absent.
    std::optional<std::filesystem::path> home;
    /// Keep the home and the simulated machine afterwards and say where they are.
    bool keep = false;
    /// Put both downloads into the wizard's cache first, so no time goes to transfers.
    bool cached = false;
    /// Report the wizard's own CPU time on standard error.
    bool measureCpu = false;
};

/// Runs the real main run of the setup model with the default services on the simulated Mac,
/// printing each status text as the user reads it, then "ready" or "failed". Returns the
/// process exit status: 0 when the run ends as the scenario expects.
int runScenario(const Scenario& scenario, const SimulatedMac::Programs& programs,
                const RunOptions& options);

} // namespace orvek::sandbox
