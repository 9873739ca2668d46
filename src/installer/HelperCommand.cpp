#include "installer/HelperCommand.h"

#include "installer/InstallerCore.h"

namespace orvek::installer::HelperCommand {

std::vector<std::string> statusArguments() {
    return {"status", "--json", "--environment", "current"};
}

std::vector<std::string> setupArguments() {
    std::vector<std::string> arguments = {"setup",   "--global", "--environment",
                                          "current", "--agent",  "opencode"};
    for (const auto model : InstallerCore::orvekModels) {
        arguments.emplace_back("--model");
        arguments.push_back("opencode=" + std::string(model));
    }
    const std::vector<std::string> tail = {"--default-model",
                                           "opencode=claude-opus-5",
                                           "--provider-only",
                                           "--accept-plan",
                                           "--non-interactive",
                                           "--credential-storage",
                                           "file",
                                           "--lock-wait-ms",
                                           "0",
                                           "--no-telemetry"};
    arguments.insert(arguments.end(), tail.begin(), tail.end());
    return arguments;
}

std::vector<std::string> mcpArguments() {
    return {"mcp"};
}

} // namespace orvek::installer::HelperCommand
