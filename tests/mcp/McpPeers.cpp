#include "McpPeers.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace orvek::test {

namespace fs = std::filesystem;

fs::path McpPeerPaths::node() {
    return ORVEK_NODE;
}

fs::path McpPeerPaths::modules() {
    return ORVEK_NODE_MODULES;
}

fs::path McpPeerPaths::sdkServer() {
    return fs::path(ORVEK_MCP_PEERS) / "sdk-server.mjs";
}

fs::path McpPeerPaths::everythingServer() {
    return modules() / "@modelcontextprotocol/server-everything/dist/index.js";
}

std::string McpPeerPaths::missing() {
    for (const auto& path : {node(), modules() / "@modelcontextprotocol/sdk/package.json",
                             everythingServer(), sdkServer()})
        if (!fs::exists(path))
            return path.string() + " is missing: run scripts/bootstrap";
    return {};
}

namespace {

base::ChildProcess startHttpPeer(const fs::path& folder, const fs::path& certificate,
                                 const fs::path& key, const std::vector<std::string>& flags) {
    std::vector<std::string> arguments = {McpPeerPaths::sdkServer().string(),
                                          McpPeerPaths::modules().string(),
                                          "http",
                                          certificate.string(),
                                          key.string(),
                                          (folder / "port").string()};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    return base::ChildProcess::start(McpPeerPaths::node(), arguments, std::nullopt);
}

} // namespace

SdkHttpPeer::SdkHttpPeer(const fs::path& folder, const fs::path& certificate, const fs::path& key,
                         const std::vector<std::string>& flags)
    : m_process(startHttpPeer(folder, certificate, key, flags)) {
    // Node takes a moment to load the SDK; the port file appears once it listens.
    const auto portFile = folder / "port";
    for (int attempt = 0; attempt < 3000 && m_port == 0; ++attempt) {
        if (std::ifstream in(portFile); in >> m_port)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_port == 0)
        throw std::runtime_error("the SDK's HTTP server did not start");
}

std::string SdkHttpPeer::url() const {
    return "https://127.0.0.1:" + std::to_string(m_port) + "/mcp";
}

} // namespace orvek::test
