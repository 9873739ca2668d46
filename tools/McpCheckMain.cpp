// orvek-mcp-check: runs the wizard's MCP checks against any server, for support. The remote
// probe goes to a URL (the service's endpoint by default); the local probe's exchange goes to
// any stdio MCP server command.

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ProcessEnvironment.h"
#include "installer/Deployment.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpCancellation.h"
#include "mcp/McpEndpoint.h"
#include "mcp/McpHealth.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

constexpr int kConfirmed = 0;
constexpr int kNotConfirmed = 1;
constexpr int kUsageError = 2;

constexpr std::string_view kUsage = "usage: orvek-mcp-check [URL] [--cacert FILE]\n"
                                    "       orvek-mcp-check --stdio -- COMMAND [ARGS...]";

int usage() {
    std::cerr << kUsage << "\n";
    return kUsageError;
}

// A command without a slash is looked up on PATH, as a shell would.
std::optional<fs::path> executableFor(const std::string& command) {
    if (command.find('/') != std::string::npos)
        return fs::absolute(command);
    const char* path = std::getenv("PATH");
    std::string_view folders = path == nullptr ? "/usr/bin:/bin" : path;
    while (true) {
        const auto end = folders.find(':');
        const auto folder = folders.substr(0, end);
        const auto candidate = fs::path(folder.empty() ? "." : std::string(folder)) / command;
        if (::access(candidate.c_str(), X_OK) == 0)
            return fs::absolute(candidate);
        if (end == std::string_view::npos)
            return std::nullopt;
        folders.remove_prefix(end + 1);
    }
}

int checkStdio(const std::vector<std::string>& command) {
    const auto executable = executableFor(command.front());
    if (!executable) {
        std::cerr << "orvek-mcp-check: " << command.front() << ": command not found\n";
        return kUsageError;
    }
    const mcp::McpCancellation cancellation;
    try {
        const int tools = mcp::LocalMcp::probeCommand(
            *executable, std::vector<std::string>(command.begin() + 1, command.end()),
            base::currentEnvironment(), std::nullopt, cancellation);
        std::cout << "tools: " << tools << "\n";
        return kConfirmed;
    } catch (const std::exception& error) {
        std::cout << "failed: " << error.what() << "\n";
        return kNotConfirmed;
    }
}

int checkRemote(const mcp::McpEndpoint& endpoint) {
    const auto result = mcp::McpHealth::probe(endpoint);
    std::cout << result << "\n";
    return mcp::McpHealth::confirmed(result) ? kConfirmed : kNotConfirmed;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments.front() == "--stdio") {
        if (arguments.size() < 3 || arguments[1] != "--")
            return usage();
        return checkStdio(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    }

    auto endpoint = mcp::McpEndpoint::of(installer::Deployment::production());
    bool urlGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--cacert" && i + 1 < arguments.size()) {
            endpoint.trustedCa = fs::path(arguments[++i]);
        } else if (!urlGiven && !arguments[i].starts_with("-")) {
            endpoint.url = arguments[i];
            urlGiven = true;
        } else {
            return usage();
        }
    }
    try {
        return checkRemote(endpoint);
    } catch (const std::exception& error) {
        std::cerr << "orvek-mcp-check: " << error.what() << "\n";
        return kNotConfirmed;
    }
}
