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

    // ---- The skills step that follows a ready run ----

    /// The roles the user ticks in the skills sheet; none: the sheet is skipped.
    std::vector<std::string> roles = {};
    /// After an occupied workspace folder the user picks this folder (under the home) as another
    /// parent and retries; empty: no retry.
    std::string alternateParent = {};
    bool expectSkillsReady = true;
    /// The skills status the step must end on (for failures, how it begins).
    std::string expectedSkillsStatus = {};
    /// Looks at the disk afterwards; returns what is wrong, empty when all is as it should be.
    std::function<std::string(SimulatedMac&)> checkSkills = {};
};

[[nodiscard]] const std::vector<Scenario>& scenarios();

} // namespace orvek::sandbox
