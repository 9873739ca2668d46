// Performs one of the engine's writing operations against a home the caller prepared, with the
// file-system calls of the operation alone counted or failed (FaultPlan). Run under fiu-run -x,
// whose POSIX wrappers pass the failure points:
//
//   orvek-fault-driver count=FILE|fail=N,ERRNO|short=N OPERATION KEY=VALUE...
//
// Keys: "home", "resources", any field of the engine's Deployment by its name, and for
// "preserved-write" "target", "expected" and "updated" (files holding the bytes). Prints "ok" or
// what the user would be shown, then the point that failed on standard error. Exit status: 0
// after success, 1 after a failure, 2 for a wrong command line. In count mode FILE receives the
// point of each call, one a line.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FaultPlan.h"
#include "Fixtures.h"
#include "base/FilePrimitives.h"
#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "config/PreservedConfig.h"
#include "installer/InstallerCore.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpCancellation.h"
#include "skills/AwarenessTransaction.h"
#include "skills/GlobalSkills.h"
#include "skills/RoleWorkspace.h"
#include "skills/ToolkitPackage.h"

namespace {

namespace fs = std::filesystem;
using orvek::installer::InstallerCore;
using Arguments = std::map<std::string, std::string, std::less<>>;
// Everything an operation reads to get ready is read before the plan starts, so that the calls
// counted are the operation's own.
using Prepared = std::function<void()>;

const std::string& argument(const Arguments& arguments, std::string_view key) {
    const auto found = arguments.find(key);
    if (found == arguments.end())
        throw std::invalid_argument("missing " + std::string(key));
    return found->second;
}

orvek::installer::Deployment deploymentOf(const Arguments& arguments) {
    auto deployment = orvek::installer::Deployment::production();
    const std::map<std::string_view, fs::path*> paths = {
        {"pgrep", &deployment.pgrep},
        {"curl", &deployment.curl},
        {"hdiutil", &deployment.hdiutil},
        {"ditto", &deployment.ditto},
        {"codesign", &deployment.codesign},
        {"tar", &deployment.tar},
        {"systemApplications", &deployment.systemApplications},
    };
    for (const auto& [key, field] : paths)
        if (arguments.contains(key))
            *field = argument(arguments, key);
    if (arguments.contains("apiBase"))
        deployment.apiBase = argument(arguments, "apiBase");
    if (arguments.contains("webHost"))
        deployment.webHost = argument(arguments, "webHost");
    if (arguments.contains("helperArchiveHash"))
        deployment.helperArchiveHash = argument(arguments, "helperArchiveHash");
    if (arguments.contains("extraTrustedCa"))
        deployment.extraTrustedCa = argument(arguments, "extraTrustedCa");
    if (arguments.contains("apiConnectTo"))
        deployment.apiConnectTo = argument(arguments, "apiConnectTo");
    return deployment;
}

Prepared prepare(std::string_view operation, InstallerCore& core, const Arguments& arguments) {
    namespace skills = orvek::skills;
    if (operation == "preserved-write") {
        const fs::path target = argument(arguments, "target");
        const auto expected = orvek::base::readWhole(argument(arguments, "expected"));
        const auto updated = orvek::base::readWhole(argument(arguments, "updated"));
        return [=] { orvek::config::PreservedConfig::write(target, expected, updated); };
    }
    if (operation == "model-preset")
        return [&core] { core.applyPreset(core.globalConfig()); };
    if (operation == "desktop-defaults")
        return [&core] { InstallerCore::prepareDesktopDefaults(core.desktopData()); };
    if (operation == "download") {
        const auto entry =
            InstallerCore::stringEntry(core.payloadManifest(), InstallerCore::architecture);
        if (!entry)
            throw std::invalid_argument("the manifest has no OpenCode entry");
        return [&core, entry = *entry] {
            (void)core.download(entry.at("url"), entry.at("sha256"), "OpenCode-2.1.4-arm64.dmg",
                                InstallerCore::payloadSize(entry));
        };
    }
    if (operation == "helper-install")
        return [&core] { core.installHelper(); };
    if (operation == "install")
        return [&core] { core.install(nullptr); };
    if (operation == "workspace")
        return [&core] { (void)skills::prepareProfile(core, "manager"); };
    if (operation == "global-skills") {
        auto package = skills::bundledFiles(core, {"toolkit/common", "toolkit/profiles/video"});
        return [&core, package = std::move(package)] {
            skills::installGlobal(core, package, "video", std::nullopt);
        };
    }
    if (operation == "awareness") {
        namespace transaction = skills::AwarenessTransaction;
        const auto folder = core.globalConfig();
        transaction::Change change;
        change.oldAgents = orvek::base::readIfPresent(folder / transaction::kAgentsName);
        change.oldState = orvek::base::readIfPresent(folder / transaction::kStateName);
        change.newAgents = change.oldAgents.value_or("") + "\n## Orvek\n\nРоли: manager.\n";
        change.newState = "{\"roles\":{\"manager\":\"/Users/test/Orvek\"}}\n";
        return [folder, change] { transaction::write(folder, change); };
    }
    if (operation == "awareness-recovery") {
        return [folder = core.globalConfig()] { skills::AwarenessTransaction::recovery(folder); };
    }
    if (operation == "mcp-repair") {
        return [&core] {
            orvek::mcp::McpCancellation cancellation;
            (void)orvek::mcp::LocalMcp::repair(core, cancellation);
        };
    }
    throw std::invalid_argument("unknown operation " + std::string(operation));
}

std::optional<orvek::test::FaultMode> modeOf(std::string_view text, std::string& countFile) {
    using Kind = orvek::test::FaultMode::Kind;
    orvek::test::FaultMode mode;
    if (text.starts_with("count=")) {
        countFile = text.substr(6);
        return mode;
    }
    if (text.starts_with("fail=")) {
        const std::string rest(text.substr(5));
        const auto comma = rest.find(',');
        if (comma == std::string::npos)
            return std::nullopt;
        mode.kind = Kind::fail;
        mode.call = std::stoul(rest.substr(0, comma));
        mode.error = std::stoi(rest.substr(comma + 1));
        return mode;
    }
    if (text.starts_with("short=")) {
        mode.kind = Kind::shorten;
        mode.call = std::stoul(std::string(text.substr(6)));
        return mode;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    std::string countFile;
    const auto mode = argc >= 3 ? modeOf(argv[1], countFile) : std::nullopt;
    if (!mode) {
        std::cerr << "usage: orvek-fault-driver count=FILE|fail=N,ERRNO|short=N OPERATION "
                     "KEY=VALUE...\n";
        return 2;
    }
    Arguments arguments;
    for (int i = 3; i < argc; ++i) {
        const std::string_view pair = argv[i];
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos) {
            std::cerr << "not KEY=VALUE: " << pair << "\n";
            return 2;
        }
        arguments.emplace(pair.substr(0, equals), pair.substr(equals + 1));
    }

    std::optional<InstallerCore> core;
    Prepared operation;
    try {
        core.emplace(argument(arguments, "resources"), fs::path(argument(arguments, "home")),
                     std::nullopt, deploymentOf(arguments),
                     std::make_shared<orvek::test::AmpleSpace>());
        operation = prepare(argv[2], *core, arguments);
    } catch (const std::exception& error) {
        std::cerr << "cannot prepare: " << error.what() << "\n";
        return 2;
    }

    // What the user would be shown, as the setup model and the presenters show it.
    std::string outcome = "ok";
    orvek::test::FaultPlan plan(*mode);
    try {
        operation();
    } catch (const orvek::base::InstallerFailure& failure) {
        outcome = failure.message();
    } catch (const std::exception& error) {
        outcome = error.what();
    } catch (...) {
        outcome = "(an exception that is no std::exception)";
    }
    plan.end();

    std::cout << outcome << std::endl;
    std::cerr << "struck: " << plan.struck() << "\n";
    if (!countFile.empty()) {
        std::ofstream out(countFile, std::ios::binary);
        for (const auto& call : plan.calls())
            out << call << "\n";
        if (!out.flush())
            return 2;
    }
    return outcome == "ok" ? 0 : 1;
}
