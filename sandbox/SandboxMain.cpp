// orvek-sandbox: runs the wizard's real main run on a simulated Mac and prints what the user
// would read in the status line, one text per line, then "ready" or "failed".

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "McpScenarioRun.h"
#include "McpScenarios.h"
#include "ScenarioRun.h"
#if defined(ORVEK_SANDBOX_WINDOW)
#include "ScenarioWindow.h"
#endif
#include "Scenarios.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

constexpr int kUsage = 2;

int usage() {
    std::cerr << "usage: orvek-sandbox list\n"
                 "       orvek-sandbox run --scenario NAME [--home DIR] [--keep] [--cached] "
                 "[--slow] [--cpu] [--roles ROLE,ROLE…]\n"
                 "             [--resources DIR] [--payloads-tool PROGRAM] [--key-file FILE] "
                 "[--record-arguments]\n"
                 "       orvek-sandbox gui --scenario NAME [--home DIR] [--keep] [--cached] "
                 "[--slow] [--screens DIR]\n"
                 "       orvek-sandbox mcp --scenario NAME [--home DIR] [--keep] [--key-file FILE] "
                 "[--record-arguments]\n";
    return kUsage;
}

sandbox::SimulatedMac::Programs programs() {
    return {fs::path(ORVEK_SANDBOX_SOURCE_DIR) / "stand-ins", ORVEK_SANDBOX_HELPER,
            ORVEK_RESOURCES_DIR};
}

// The account key from a file outside the simulated Mac, so it is never on a command line;
// the line break a text file ends with is not part of it.
std::optional<std::string> keyFrom(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string key((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (key.empty())
        return std::nullopt;
    return key;
}

// The options "run" and "mcp" share; false when `args[i]` is none of them.
bool sharedOption(const std::vector<std::string>& args, std::size_t& i,
                  sandbox::RunOptions& options) {
    if (args[i] == "--home" && i + 1 < args.size())
        options.home = args[++i];
    else if (args[i] == "--keep")
        options.keep = true;
    else if (args[i] == "--record-arguments")
        options.recordArguments = true;
    else if (args[i] == "--key-file" && i + 1 < args.size()) {
        options.key = keyFrom(args[++i]);
        // An unreadable or empty key file is refused like an unknown option.
        return options.key.has_value();
    } else
        return false;
    return true;
}

std::vector<std::string> splitRoles(const std::string& list) {
    std::vector<std::string> roles;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = list.find(',', start);
        auto role = list.substr(start, end == std::string::npos ? end : end - start);
        if (!role.empty())
            roles.push_back(std::move(role));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return roles;
}

// The MCP alerts on the simulated Mac: "mcp --scenario NAME [--home DIR] [--keep]".
int runMcp(const std::vector<std::string>& args) {
    std::optional<std::string> name;
    sandbox::RunOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--scenario" && i + 1 < args.size())
            name = args[++i];
        else if (!sharedOption(args, i, options))
            return usage();
    }
    if (!name)
        return usage();
    for (const auto& scenario : sandbox::mcpScenarios()) {
        if (scenario.name == *name) {
            try {
                return sandbox::runMcpScenario(scenario, programs(), options);
            } catch (const std::exception& error) {
                std::cerr << "orvek-sandbox: " << error.what() << "\n";
                return 1;
            }
        }
    }
    std::cerr << "orvek-sandbox: unknown MCP scenario " << *name << " (see orvek-sandbox list)\n";
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "list") {
        for (const auto& scenario : sandbox::scenarios())
            std::cout << scenario.name << "\t" << scenario.summary << "\n";
        for (const auto& scenario : sandbox::mcpScenarios())
            std::cout << scenario.name << "\t" << scenario.summary << " (orvek-sandbox mcp)\n";
        return 0;
    }
    if (!args.empty() && args[0] == "mcp")
        return runMcp(args);
    if (args.empty() || (args[0] != "run" && args[0] != "gui"))
        return usage();
    const bool window = args[0] == "gui";

    std::optional<std::string> name;
    sandbox::RunOptions options;
    std::optional<fs::path> screens;
    auto machinePrograms = programs();
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--scenario" && i + 1 < args.size())
            name = args[++i];
        else if (sharedOption(args, i, options))
            continue;
        else if (args[i] == "--cached")
            options.cached = true;
        else if (args[i] == "--slow")
            options.slow = true;
        else if (args[i] == "--roles" && i + 1 < args.size())
            options.roles = splitRoles(args[++i]);
        else if (args[i] == "--cpu" && !window)
            options.measureCpu = true;
        else if (args[i] == "--screens" && window && i + 1 < args.size())
            screens = fs::path(args[++i]);
        // The wizard's resources from elsewhere, an installed application's for one.
        else if (args[i] == "--resources" && i + 1 < args.size())
            machinePrograms.resources = fs::absolute(args[++i]);
        // The release's manifest tool makes the manifest from what the service serves.
        else if (args[i] == "--payloads-tool" && i + 1 < args.size())
            machinePrograms.payloadsTool = fs::absolute(args[++i]);
        else
            return usage();
    }
    if (!name)
        return usage();
    for (const auto& scenario : sandbox::scenarios()) {
        if (scenario.name == *name) {
            try {
                if (!window)
                    return sandbox::runScenario(scenario, machinePrograms, options);
#if defined(ORVEK_SANDBOX_WINDOW)
                return sandbox::runScenarioWindow(scenario, machinePrograms, options, screens, argc,
                                                  argv);
#else
                std::cerr << "orvek-sandbox: built without the application window\n";
                return 1;
#endif
            } catch (const std::exception& error) {
                std::cerr << "orvek-sandbox: " << error.what() << "\n";
                return 1;
            }
        }
    }
    std::cerr << "orvek-sandbox: unknown scenario " << *name << " (see orvek-sandbox list)\n";
    return kUsage;
}
