#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "ScopedEnvironment.h"
#include "TempHome.h"
#include "base/JsonValue.h"
#include "installer/InstallerCore.h"

namespace orvek::test {

/// A user's home for the MCP checks: HOME pointing at it, no configuration overrides, a pgrep
/// that finds no OpenCode, the wizard's resources and an engine on the production-shaped test
/// API host. The helper is whatever a test installs with one of the `use…` calls.
class McpHome {
public:
    static constexpr const char* kApiBase = "https://api.orvek.test";
    static constexpr const char* kFreeProvider = R"({"models":{"big-pickle":{}},"name":"Free"})";

    McpHome();

    [[nodiscard]] const installer::InstallerCore& core() const noexcept { return *m_core; }
    [[nodiscard]] std::shared_ptr<const installer::InstallerCore> shared() const { return m_core; }
    [[nodiscard]] const TempHome& home() const noexcept { return m_home; }
    [[nodiscard]] ScopedEnvironment& environment() noexcept { return m_environment; }

    /// The sandbox's helper stand-in, signed in, its MCP server behaving as `mode` says.
    void useStandIn(const std::string& mode = "normal") const;
    /// A helper that runs the official SDK's stdio server (three tools).
    void useSdkServer() const;
    /// A helper that runs the SDK's reference server "everything" over stdio.
    void useEverythingServer() const;
    /// Makes the installed helper differ from the manifest's hash.
    void tamperWithHelper() const;
    /// Sends the engine's requests to the service at 127.0.0.1:`port`, trusting `authority`.
    void reachService(int port, const std::filesystem::path& authority);
    /// pgrep answers as if OpenCode were running (0) or not (1).
    void openCodeRunning(bool running) const;

    /// "opencode.jsonc" (and the overlay files) in the global OpenCode configuration folder.
    [[nodiscard]] std::filesystem::path configuration() const;
    void writeConfiguration(const std::string& bytes) const;
    [[nodiscard]] std::string configurationBytes() const;
    /// The wizard's overlay and its marker, with or without the local MCP entry.
    void writeOverlay(bool withMcp) const;

    /// The canonical local entry's bytes for the installed helper.
    [[nodiscard]] std::string localEntry() const;
    /// The remote OAuth entry OpenCode writes for the test service, as JSON.
    [[nodiscard]] static base::JsonValue remoteEntry();

    /// The pid the stand-in's MCP server left in its state folder, if it ran.
    [[nodiscard]] std::optional<pid_t> standInPid(const char* name = "mcp.pid") const;

private:
    void installHelper(const std::string& bytes) const;

    TempHome m_home;
    ScopedEnvironment m_environment;
    std::shared_ptr<installer::InstallerCore> m_core;
};

/// Whether a process still runs (a zombie counts as gone); waits a little for one that was just
/// killed to finish dying.
[[nodiscard]] bool stillRunning(pid_t pid);

} // namespace orvek::test
