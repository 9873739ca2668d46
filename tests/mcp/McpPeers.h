#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/ChildProcess.h"

namespace orvek::test {

/// Where the real MCP servers used as peers live: node, the packages scripts/bootstrap installs
/// and the peer scripts beside these tests.
struct McpPeerPaths {
    static std::filesystem::path node();
    static std::filesystem::path modules();
    static std::filesystem::path sdkServer();
    static std::filesystem::path everythingServer();
    /// Empty when every piece is there; otherwise what is missing, for the test's failure.
    static std::string missing();
};

/// The official SDK's streamable-HTTP transport serving "/mcp" over TLS on 127.0.0.1, run as a
/// node process in its own group, which is stopped when this object goes away.
class SdkHttpPeer {
public:
    /// Waits until the server listens; throws std::runtime_error when it does not.
    SdkHttpPeer(const std::filesystem::path& folder, const std::filesystem::path& certificate,
                const std::filesystem::path& key, const std::vector<std::string>& flags);

    [[nodiscard]] std::string url() const;

private:
    base::ChildProcess m_process;
    int m_port = 0;
};

} // namespace orvek::test
