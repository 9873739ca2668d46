#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ProcessWatch.h"
#include "Scenarios.h"
#include "base/TempFolder.h"
#include "installer/InstallerCore.h"
#include "setup/Workspace.h"

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
    /// The roles ticked in the skills sheet in place of the scenario's own.
    std::optional<std::vector<std::string>> roles;
    /// Serve both payloads slowly (about three seconds each) and print each download size the
    /// window would show.
    bool slow = false;
    /// The account key the simulated service issues and the saved connection holds.
    std::optional<std::string> key;
    /// Every program the wizard starts leaves its argument list in the machine's
    /// "arguments.log" (see `SimulatedMac::recordArguments`), and every descendant seen running
    /// leaves its own in "processes.log" (see `ProcessWatch`).
    bool recordArguments = false;
};

/// The simulated Mac of one scenario, prepared, with the engine the default services run on.
/// Enters the simulated home for the whole process: children of the wizard (the helper above
/// all) find the user's settings through HOME, exactly as on the Mac.
class ScenarioMachine {
public:
    ScenarioMachine(const Scenario& scenario, const SimulatedMac::Programs& programs,
                    const RunOptions& options);
    ~ScenarioMachine();
    ScenarioMachine(const ScenarioMachine&) = delete;
    ScenarioMachine& operator=(const ScenarioMachine&) = delete;

    [[nodiscard]] SimulatedMac& mac() noexcept { return *m_mac; }
    [[nodiscard]] const std::shared_ptr<installer::InstallerCore>& core() const noexcept {
        return m_core;
    }

private:
    base::TempFolder m_machineFolder;
    std::optional<base::TempFolder> m_homeFolder;
    std::filesystem::path m_home;
    bool m_keep;
    std::unique_ptr<SimulatedMac> m_mac;
    std::shared_ptr<installer::InstallerCore> m_core;
    std::optional<ProcessWatch> m_watch;
};

/// Opening OpenCode is the desktop's business; the simulated one is only reported on stderr.
class ReportingWorkspace final : public setup::Workspace {
public:
    void openApplication(const std::filesystem::path& app) override;
    void openUrl(const std::string& url) override;
};

/// Runs the real main run of the setup model with the default services on the simulated Mac,
/// printing each status text as the user reads it, then "ready" or "failed". Returns the
/// process exit status: 0 when the run ends as the scenario expects.
int runScenario(const Scenario& scenario, const SimulatedMac::Programs& programs,
                const RunOptions& options);

/// Whether the run's outcome is the one the scenario expects.
[[nodiscard]] bool endedAsExpected(const Scenario& scenario, bool ready, const std::string& status);

/// Whether the skills step ended as the scenario expects, its check of the disk included; says
/// what differs on standard error.
[[nodiscard]] bool skillsEndedAsExpected(const Scenario& scenario, SimulatedMac& mac,
                                         bool succeeded, const std::string& status);

} // namespace orvek::sandbox
