#include "McpHome.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "ConfigurationOverrides.h"
#include "McpPeers.h"
#include "McpScenarios.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "config/ModelPreset.h"

namespace orvek::test {

namespace fs = std::filesystem;

McpHome::McpHome() {
    test::clearConfigurationOverrides(m_environment);
    m_environment.set("HOME", m_home.path().string());
    m_home.write("resources/free-provider.json", kFreeProvider);
    openCodeRunning(false);
    installer::Deployment deployment;
    deployment.pgrep = m_home / "bin/pgrep";
    deployment.apiBase = kApiBase;
    m_core = std::make_shared<installer::InstallerCore>(m_home / "resources", m_home.path(),
                                                        std::nullopt, deployment);
}

void McpHome::installHelper(const std::string& bytes) const {
    const auto helper = m_core->helper();
    m_home.write(helper.lexically_relative(m_home.path()), bytes, fs::perms::owner_all);
    const base::JsonValue manifest = {{"cli-arm64",
                                       {{"url", "https://api.orvek.test/orvek.tar.gz"},
                                        {"sha256", std::string(64, '0')},
                                        {"binarySha256", base::hash(bytes)}}}};
    m_home.write("resources/payloads.json", manifest.dump());
}

void McpHome::useStandIn(const std::string& mode) const {
    installHelper(slurp(ORVEK_SANDBOX_HELPER));
    m_home.write(".orvek-sandbox/configured", "");
    m_home.write(".orvek-sandbox/helper.json", base::JsonValue{{"mcp", mode}}.dump());
}

void McpHome::useSdkServer() const {
    installHelper("#!/bin/sh\nexec '" + McpPeerPaths::node().string() + "' '" +
                  McpPeerPaths::sdkServer().string() + "' '" + McpPeerPaths::modules().string() +
                  "' stdio\n");
}

void McpHome::useEverythingServer() const {
    installHelper("#!/bin/sh\nexec '" + McpPeerPaths::node().string() + "' '" +
                  McpPeerPaths::everythingServer().string() + "' stdio\n");
}

void McpHome::tamperWithHelper() const {
    const auto helper = m_core->helper();
    m_home.write(helper.lexically_relative(m_home.path()), slurp(helper) + "\n",
                 fs::perms::owner_all);
}

void McpHome::reachService(int port, const fs::path& authority) {
    auto deployment = m_core->deployment();
    deployment.apiConnectTo = "127.0.0.1:" + std::to_string(port);
    deployment.extraTrustedCa = authority;
    m_core = std::make_shared<installer::InstallerCore>(m_home / "resources", m_home.path(),
                                                        std::nullopt, deployment);
}

void McpHome::openCodeRunning(bool running) const {
    (void)m_home.script("bin/pgrep", running ? "exit 0" : "exit 1");
}

fs::path McpHome::configuration() const {
    return m_core->globalConfig() / "opencode.jsonc";
}

void McpHome::writeConfiguration(const std::string& bytes) const {
    m_home.write(configuration().lexically_relative(m_home.path()), bytes);
}

std::string McpHome::configurationBytes() const {
    return slurp(configuration());
}

void McpHome::writeOverlay(bool withMcp) const {
    const auto freeProvider = base::JsonValue::parse(kFreeProvider);
    auto document = config::presetDocument(freeProvider);
    if (withMcp)
        document["mcp"] = base::JsonValue::object({{"orvek", m_core->mcpConfiguration()}});
    const auto bytes = base::json(document);
    const auto folder = m_core->globalConfig().lexically_relative(m_home.path());
    m_home.write(folder / "opencode.json", bytes);
    m_home.write(folder / "opencode.json.orvek-preset-owned", bytes);
}

std::string McpHome::localEntry() const {
    return base::json(m_core->mcpConfiguration());
}

base::JsonValue McpHome::remoteEntry() {
    return sandbox::remoteMcpEntry(kApiBase);
}

std::optional<pid_t> McpHome::standInPid(const char* name) const {
    std::ifstream in(m_home / ".orvek-sandbox" / name);
    pid_t pid = 0;
    if (in >> pid)
        return pid;
    return std::nullopt;
}

bool stillRunning(pid_t pid) {
    // A killed process may take a moment to become a zombie; the bound is generous and only
    // reached when something is wrong.
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() &&
            (line[close + 2] == 'Z' || line[close + 2] == 'X'))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace orvek::test
