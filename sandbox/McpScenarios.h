#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "SimulatedMac.h"
#include "mcp/McpPresenter.h"

namespace orvek::sandbox {

/// One situation of the MCP alerts on the simulated Mac, after the helper was installed, and
/// what the user must read at the end.
struct McpScenario {
    std::string name;
    std::string summary;
    /// Sets the Mac up; the helper is installed and signed in already.
    std::function<void(SimulatedMac&)> prepare;
    /// The button the user presses in the information alert.
    mcp::McpPresenter::Choice choice = mcp::McpPresenter::Choice::check;
    /// The user presses "Отмена" once the helper waits for the check to go on.
    bool cancelWhileWaiting = false;
    /// The result alert's text; empty: no result alert may appear.
    std::string expectedResult;
    /// Looks at the disk afterwards; returns what is wrong, empty when all is as it should be.
    std::function<std::string(SimulatedMac&)> check;
};

[[nodiscard]] const std::vector<McpScenario>& mcpScenarios();

/// The entry OpenCode writes under "mcp" when it signs in to the MCP of the service at
/// `apiBase` with OAuth itself: the one the wizard's repair replaces.
[[nodiscard]] nlohmann::json remoteMcpEntry(std::string_view apiBase);

} // namespace orvek::sandbox
