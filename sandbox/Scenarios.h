#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SimulatedMac.h"

namespace orvek::sandbox {

/// One situation of the simulated Mac and what the wizard must make of it.
struct Scenario {
    std::string name;
    std::string summary;
    /// Sets the Mac up before the wizard starts.
    std::function<void(SimulatedMac&)> prepare;
    bool expectReady = true;
    /// The status line the run must end on (for failures, how the message begins).
    std::string expectedStatus;
    /// When set, the user does this after the first run ends and presses the button again;
    /// the expectations are about the second run.
    std::function<void(SimulatedMac&)> beforeRetry;
};

[[nodiscard]] const std::vector<Scenario>& scenarios();

} // namespace orvek::sandbox
