#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Outcome.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "installer/InstallerCore.h"

namespace orvek::test {

/// A Mac user's home for meeting hostile peers: OpenCode's desktop data seeded, the wizard's data
/// folder made and no OpenCode running, so that a failed step has nothing left to write. The test
/// clears the configuration overrides of the environment. Every path in it carries the folder's
/// unique name, which also marks every process started from it.
class HostileHome {
public:
    static constexpr const char* kApiBase = "https://api.orvek.test";

    /// With `withOpenCode`, OpenCode is installed and signed, as a connection needs.
    explicit HostileHome(bool withOpenCode = false);

    [[nodiscard]] const TempHome& temp() const noexcept { return m_temp; }
    [[nodiscard]] std::filesystem::path home() const { return m_temp / "Users/me"; }
    /// The text that names this home's processes on their command lines.
    [[nodiscard]] std::string marker() const { return m_temp.path().string(); }

    /// An engine on the production service, its requests going to a closed port.
    [[nodiscard]] installer::InstallerCore engine() const;
    /// `engine()` with the helper's status and setup commands limited to the given seconds.
    [[nodiscard]] installer::InstallerCore engine(double statusSeconds, double setupSeconds) const;
    /// An engine on the test service at 127.0.0.1:`port`, trusting `authority` besides the
    /// system's certificates.
    [[nodiscard]] installer::InstallerCore engine(int port,
                                                  const std::filesystem::path& authority) const;

    /// Installs the hostile helper stand-in misbehaving as `mode` for the command `target`
    /// (see HostileHelper.cpp), with the manifest naming its hash.
    void useHelper(const std::string& mode, const std::string& target) const;
    /// The helper's configuration and key as a sign-in on the test service leaves them.
    void saveConnection() const;

    /// Everything under the temporary folder.
    [[nodiscard]] std::map<std::string, SnapshotEntry> snapshot() const;

private:
    [[nodiscard]] installer::InstallerCore engine(installer::Deployment deployment) const;

    TempHome m_temp;
};

/// The service's model catalogue with every model of the wizard; also a JSON object without an
/// "error" member, so it passes the key check too.
[[nodiscard]] std::string fullCatalogue();

/// The ids of the processes whose command line contains `marker`, found by the real pgrep. A
/// process that was just killed gets a second to finish dying.
[[nodiscard]] std::vector<std::string> processesMarked(const std::string& marker);

/// What the user would read after `step` and how long it took.
struct TimedOutcome {
    std::string outcome;
    std::chrono::duration<double> took{};
};

template <typename Step> TimedOutcome timed(Step&& step) {
    const auto start = std::chrono::steady_clock::now();
    TimedOutcome result;
    result.outcome = outcomeOf(std::forward<Step>(step));
    result.took = std::chrono::steady_clock::now() - start;
    return result;
}

} // namespace orvek::test
