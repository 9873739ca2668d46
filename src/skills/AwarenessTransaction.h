#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/Bytes.h"

namespace orvek::skills {

/// The global "AGENTS.md" and the awareness state change together: an undo record written
/// first lets the next run finish or roll back a pair that a crash left half-committed.
namespace AwarenessTransaction {

inline constexpr const char* kAgentsName = "AGENTS.md";
inline constexpr const char* kStateName = ".orvek-awareness.json";
inline constexpr const char* kPendingName = ".orvek-awareness-pending.json";

/// Both files' bytes before (absent: no such file) and after the transaction.
struct Change {
    std::optional<base::Bytes> oldAgents;
    std::optional<base::Bytes> oldState;
    base::Bytes newAgents;
    base::Bytes newState;
};

/// Called by `writeForTesting` at each point where tests stop or kill the process: "recorded"
/// (the undo record is on disk), the guarded writes' own steps prefixed with the file's name
/// ("AGENTS.md checked", …), "AGENTS.md committed" and ".orvek-awareness.json committed".
using StepHook = std::function<void(const std::string& point)>;

/// Finishes or undoes an interrupted transaction in `folder`; without an undo record it does
/// nothing. Throws InstallerFailure "CONFIGURATION_UNSUPPORTED" when the files are in neither
/// recorded version, and passes the file primitives' failures through.
void recovery(const std::filesystem::path& folder);

/// Commits both files or throws; a failure leaves the undo record for the next `recovery`.
void write(const std::filesystem::path& folder, const Change& change);

/// `write` with a hook called at each step; only tests use it.
void writeForTesting(const std::filesystem::path& folder, const Change& change,
                     const StepHook& hook);

} // namespace AwarenessTransaction

} // namespace orvek::skills
