#pragma once

#include "McpScenarios.h"
#include "ScenarioRun.h"

namespace orvek::sandbox {

/// Runs the real MCP alerts with the default checks on the simulated Mac, printing every alert
/// as the user reads it and pressing the scenario's buttons, then "done" or "failed". Returns
/// the process exit status: 0 when the alerts end as the scenario expects.
int runMcpScenario(const McpScenario& scenario, const SimulatedMac::Programs& programs,
                   const RunOptions& options);

} // namespace orvek::sandbox
