// Runs one skills step in its own process and kills itself with SIGKILL at the N-th point the
// step reports, so the crash tests see exactly what a crash there leaves on disk. With N = 0 it
// runs to the end and prints every point it passed, one a line.
//
//   orvek-skills-child global HOME ROLE N     installs the role's global skills
//   orvek-skills-child workspace HOME ROLE N  prepares the role's workspace
//
// HOME holds "resources" with the toolkit package; the configuration home is HOME/.config.

#include <signal.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "installer/InstallerCore.h"
#include "skills/GlobalSkills.h"
#include "skills/RoleWorkspace.h"
#include "skills/ToolkitPackage.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: orvek-skills-child global|workspace HOME ROLE N\n";
        return 2;
    }
    const std::string command = argv[1];
    const fs::path home = argv[2];
    const std::string role = argv[3];
    const long killAt = std::stol(argv[4]);
    long reached = 0;
    const auto hook = [&](const std::string& point) {
        if (++reached == killAt)
            ::raise(SIGKILL);
        if (killAt == 0)
            std::cout << point << "\n";
    };

    try {
        const installer::InstallerCore core(home / "resources", home, home / ".config");
        if (command == "global") {
            const auto package =
                skills::bundledFiles(core, {"toolkit/common", "toolkit/profiles/" + role});
            skills::installGlobalForTesting(core, package, role, home / ("ws-" + role),
                                            skills::kEarlierVideoEditHash, hook);
        } else if (command == "workspace") {
            (void)skills::prepareProfileForTesting(core, role, std::nullopt, hook);
        } else {
            std::cerr << "unknown command " << command << "\n";
            return 2;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
