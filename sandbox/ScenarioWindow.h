#pragma once

#include <filesystem>
#include <optional>

#include "ScenarioRun.h"

namespace orvek::sandbox {

/// Opens the wizard's real window bound to a setup model whose default services run on the
/// scenario's simulated Mac, so the whole main run can be clicked through. With `screens`, no
/// window appears: the run starts by itself and every state it passes through is drawn into a
/// numbered PNG in that folder (offscreen when there is no display). Returns the exit status.
int runScenarioWindow(const Scenario& scenario, const SimulatedMac::Programs& programs,
                      const RunOptions& options,
                      const std::optional<std::filesystem::path>& screens, int argc, char** argv);

} // namespace orvek::sandbox
