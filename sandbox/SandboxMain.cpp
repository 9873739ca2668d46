// orvek-sandbox: runs the wizard's real main run on a simulated Mac and prints what the user
// would read in the status line, one text per line, then "ready" or "failed".

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "ScenarioRun.h"
#include "Scenarios.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

constexpr int kUsage = 2;

int usage() {
    std::cerr << "usage: orvek-sandbox list\n"
                 "       orvek-sandbox run --scenario NAME [--home DIR] [--keep] [--cached] "
                 "[--cpu]\n";
    return kUsage;
}

sandbox::SimulatedMac::Programs programs() {
    return {fs::path(ORVEK_SANDBOX_SOURCE_DIR) / "stand-ins", ORVEK_SANDBOX_HELPER,
            ORVEK_RESOURCES_DIR};
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "list") {
        for (const auto& scenario : sandbox::scenarios())
            std::cout << scenario.name << "\t" << scenario.summary << "\n";
        return 0;
    }
    if (args.empty() || args[0] != "run")
        return usage();

    std::optional<std::string> name;
    sandbox::RunOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--scenario" && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == "--home" && i + 1 < args.size())
            options.home = args[++i];
        else if (args[i] == "--keep")
            options.keep = true;
        else if (args[i] == "--cached")
            options.cached = true;
        else if (args[i] == "--cpu")
            options.measureCpu = true;
        else
            return usage();
    }
    if (!name)
        return usage();
    for (const auto& scenario : sandbox::scenarios()) {
        if (scenario.name == *name) {
            try {
                return sandbox::runScenario(scenario, programs(), options);
            } catch (const std::exception& error) {
                std::cerr << "orvek-sandbox: " << error.what() << "\n";
                return 1;
            }
        }
    }
    std::cerr << "orvek-sandbox: unknown scenario " << *name << " (see orvek-sandbox list)\n";
    return kUsage;
}
