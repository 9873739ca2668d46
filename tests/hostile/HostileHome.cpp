#include "HostileHome.h"

#include <memory>
#include <sstream>
#include <thread>

#include "Fixtures.h"
#include "SimulatedApp.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"

namespace orvek::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTeam = "ABCDE12345";

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

HostileHome::HostileHome(bool withOpenCode) {
    if (withOpenCode) {
        const auto app = home() / "Applications/OpenCode.app";
        sandbox::writeApp(app,
                          sandbox::infoPlist(sandbox::openCodeInfo(), sandbox::PlistFormat::xml));
        sandbox::signApp(ORVEK_SANDBOX_STAND_INS, app, kTeam);
    }
    m_temp.write("resources/free-provider.json", R"({"name":"OpenCode Free","models":{}})");
    (void)m_temp.script("bin/pgrep", "exit 1");
    const auto core = engine();
    // Seeded once here, so that a later run only finds them seeded and writes nothing.
    installer::InstallerCore::prepareDesktopDefaults(core.desktopData());
    fs::create_directories(core.root() / "downloads");
    useHelper("none", "none");
}

installer::InstallerCore HostileHome::engine(installer::Deployment deployment) const {
    deployment.pgrep = m_temp / "bin/pgrep";
    deployment.codesign = fs::path(ORVEK_SANDBOX_STAND_INS) / "codesign";
    installer::InstallerCore core(m_temp / "resources", home(), home() / ".config", deployment,
                                  std::make_shared<const AmpleSpace>());
    core.setInstalledApp(home() / "Applications/OpenCode.app");
    return core;
}

installer::InstallerCore HostileHome::engine() const {
    installer::Deployment deployment;
    deployment.apiConnectTo = "127.0.0.1:9";
    return engine(deployment);
}

installer::InstallerCore HostileHome::engine(double statusSeconds, double setupSeconds) const {
    installer::Deployment deployment;
    deployment.apiConnectTo = "127.0.0.1:9";
    deployment.helperStatusSeconds = statusSeconds;
    deployment.helperSetupSeconds = setupSeconds;
    return engine(deployment);
}

installer::InstallerCore HostileHome::engine(int port, const fs::path& authority) const {
    installer::Deployment deployment;
    deployment.apiBase = kApiBase;
    deployment.apiConnectTo = "127.0.0.1:" + std::to_string(port);
    deployment.extraTrustedCa = authority;
    return engine(deployment);
}

void HostileHome::useHelper(const std::string& mode, const std::string& target) const {
    const auto helper = engine().helper();
    const std::string script = "#!/bin/sh\nexec " + quoted(ORVEK_HOSTILE_HELPER) + " " +
                               quoted((m_temp / "helper-state").string()) + " " + mode + " " +
                               target + " \"$@\"\n";
    m_temp.write(helper.lexically_relative(m_temp.path()), script, fs::perms::owner_all);
    m_temp.write("resources/payloads.json",
                 base::JsonValue{{"desktopTeamID", kTeam},
                                 {"cli-arm64",
                                  {{"url", "https://downloads.example.com/orvek.tar.gz"},
                                   {"sha256", installer::Deployment().helperArchiveHash},
                                   {"binarySha256", base::hash(script)}}}}
                     .dump());
}

void HostileHome::saveConnection() const {
    const auto folder = engine().globalConfig().lexically_relative(m_temp.path());
    m_temp.write(
        folder / "opencode.jsonc",
        base::JsonValue{
            {"model", "orvek/claude-opus-5"},
            {"provider",
             {{"orvek",
               {{"npm", "@ai-sdk/openai-compatible"},
                {"options",
                 {{"baseURL", std::string(kApiBase) + "/v1"}, {"apiKey", "{file:orvek-api-key}"}}},
                {"models", base::JsonValue::object()}}}}}}
            .dump(2));
    m_temp.write(folder / "orvek-api-key", "sk-orvek-12345678\n");
}

std::map<std::string, SnapshotEntry> HostileHome::snapshot() const {
    return test::snapshot(m_temp.path());
}

std::string fullCatalogue() {
    auto data = base::JsonValue::array();
    for (const auto& model : installer::InstallerCore::orvekModels)
        data.push_back({{"id", std::string(model)}, {"object", "model"}});
    return base::JsonValue{{"object", "list"}, {"data", data}}.dump();
}

std::vector<std::string> processesMarked(const std::string& marker) {
    std::vector<std::string> found;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const auto result = base::run("/usr/bin/pgrep", {"-f", "--", marker}, std::nullopt, 10);
        found.clear();
        std::istringstream lines(result.standardOutput);
        for (std::string pid; std::getline(lines, pid);)
            found.push_back(pid);
        if (found.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return found;
}

} // namespace orvek::test
