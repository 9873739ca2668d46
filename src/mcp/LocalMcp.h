#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.h"
#include "base/InstallerFailure.h"
#include "base/ProcessRunner.h"
#include "config/ServiceEndpoints.h"
#include "installer/InstallerCore.h"
#include "mcp/McpCancellation.h"

/// OpenCode's local MCP entry for the service: whether it is in place, proof that the helper's
/// stdio MCP server answers, and the conversion of the remote OAuth entry into the local one.
/// Every operation blocks; the MCP alerts run them on a worker.
namespace orvek::mcp::LocalMcp {

inline constexpr std::string_view kTimedOut =
    "MCP не подтвердил доступ: проверка отменена или время истекло.";
inline constexpr std::string_view kNoTools = "MCP не вернул доступных инструментов.";
inline constexpr std::string_view kChanged =
    "Настройки MCP изменились во время проверки. Подключение не подтверждено.";

/// The helper's server has this long to answer both requests.
inline constexpr auto kTimeout = std::chrono::seconds(60);

/// The step that proves the local server answers: by default `probe`. Returns the tool count.
using Check = std::function<int(const installer::InstallerCore&, McpCancellation&)>;

/// The failure of a check that was cancelled or ran out of time (no code).
[[nodiscard]] base::InstallerFailure timedOut();
/// The failure of a check around which the settings changed: "CONFIGURATION_CHANGED".
[[nodiscard]] base::InstallerFailure changed();

/// Throws CONFIGURATION_UNSUPPORTED when an override variable is set or XDG_CONFIG_HOME is
/// relative.
void environmentCheck();

/// The local entry for a helper at `helperPath`, as it is stored under "mcp"."orvek".
[[nodiscard]] base::JsonValue localEntry(const std::string& helperPath);

/// "opencode.jsonc" with the local entry inserted, or replacing the remote OAuth entry of
/// `endpoints`' service; unchanged when the entry is already there byte for byte. Every other
/// byte is kept. Throws CONFIGURATION_UNSUPPORTED or the reader's errors.
[[nodiscard]] base::Bytes patch(std::string_view data, const std::string& helperPath,
                                const config::ServiceEndpoints& endpoints);
/// `patch` for the production service.
[[nodiscard]] base::Bytes patch(std::string_view data, const std::string& helperPath);

/// Whether the local entry is in place in the engine's OpenCode settings; never throws.
[[nodiscard]] bool configured(const installer::InstallerCore& core) noexcept;

/// Starts the installed helper's MCP server and proves it answers "initialize" and
/// "tools/list"; returns the number of tools. Throws InstallerFailure, base::JsonError or
/// PlatformError; the helper is gone by the time it returns.
[[nodiscard]] int probe(const installer::InstallerCore& core, McpCancellation& cancellation);
/// `probe` with another time limit; only tests use it.
[[nodiscard]] int probeForTesting(const installer::InstallerCore& core,
                                  McpCancellation& cancellation, std::chrono::milliseconds timeout);

/// The exchange of `probe` with any stdio MCP server command (`environment` is its whole
/// environment); for `probe` and the support tool. Throws as `probe` does.
[[nodiscard]] int probeCommand(const std::filesystem::path& executable,
                               const std::vector<std::string>& arguments,
                               const base::Environment& environment,
                               const std::optional<std::filesystem::path>& workingDirectory,
                               const McpCancellation& cancellation,
                               std::chrono::milliseconds timeout = kTimeout);

/// Proves a configured local entry end to end without writing anything; returns the tool
/// count. Throws CONFIGURATION_UNSUPPORTED when none is configured, CONFIGURATION_CHANGED when
/// anything changed around the check or it was cancelled after it, or the check's failure.
[[nodiscard]] int probeConfigured(const installer::InstallerCore& core,
                                  McpCancellation& cancellation, const Check& check = probe);

/// Replaces the remote OAuth entry in "opencode.jsonc" with the local one, writing only after
/// the check succeeded; returns the tool count. Throws CONFIGURATION_UNSUPPORTED, the check's,
/// the preflight's, the overlay's or the guarded write's failures.
[[nodiscard]] int repair(const installer::InstallerCore& core, McpCancellation& cancellation,
                         const Check& check = probe);
/// `repair` with a hook called right after its write, before the result is read back; only
/// tests use it.
[[nodiscard]] int repairForTesting(const installer::InstallerCore& core,
                                   McpCancellation& cancellation, const Check& check,
                                   const std::function<void()>& written);

} // namespace orvek::mcp::LocalMcp
