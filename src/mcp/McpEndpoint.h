#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "installer/Deployment.h"

namespace orvek::mcp {

/// Where the remote MCP probe sends its requests and how it reaches them.
struct McpEndpoint {
    /// An "https://" address, compared character for character with the answer's address.
    std::string url;
    /// A CA bundle to trust instead of the system's; only tests, the sandbox and support set it.
    std::optional<std::filesystem::path> trustedCa;
    /// "HOST:PORT" where the connection really goes; only the sandbox sets it.
    std::optional<std::string> connectTo;

    /// The service's MCP endpoint of `deployment`, reached as its other requests are.
    [[nodiscard]] static McpEndpoint of(const installer::Deployment& deployment);
};

} // namespace orvek::mcp
