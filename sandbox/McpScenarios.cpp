#include "McpScenarios.h"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "config/ServiceEndpoints.h"
#include "installer/InstallerCore.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpHealth.h"

namespace orvek::sandbox {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Choice = mcp::McpPresenter::Choice;

const std::string kApiBase = std::string("https://") + SimulatedMac::kApiHost;
const std::string kRemoteNote = std::string(mcp::McpPresenter::kRemoteNote);

installer::InstallerCore engine(const SimulatedMac& mac) {
    return installer::InstallerCore(mac.resources(), mac.home(), std::nullopt, mac.deployment());
}

fs::path settings(const SimulatedMac& mac) {
    return mac.openCodeConfig() / "opencode.jsonc";
}

// The saved connection's settings with `orvek` under "mcp", pretty-printed as OpenCode does.
void saveWithMcp(SimulatedMac& mac, const json& orvek) {
    mac.saveConnection();
    auto configuration = json::parse(base::readWhole(settings(mac)));
    configuration["mcp"] = {{"orvek", orvek}};
    fs::remove(settings(mac));
    base::create(settings(mac), configuration.dump(2) + "\n");
}

// The settings as the scenario left them, to compare after the alerts.
void rememberSettings(SimulatedMac& mac) {
    base::create(mac.home() / ".orvek-sandbox/settings-before", base::readWhole(settings(mac)));
}

std::string keptAsTheyWere(SimulatedMac& mac) {
    if (base::readWhole(settings(mac)) !=
        base::readWhole(mac.home() / ".orvek-sandbox/settings-before"))
        return "opencode.jsonc changed";
    return {};
}

} // namespace

const std::vector<McpScenario>& mcpScenarios() {
    const std::string confirmed = std::string(mcp::McpHealth::kConfirmedPrefix) + "2" +
                                  std::string(mcp::McpHealth::kConfirmedSuffix);
    static const std::vector<McpScenario> kScenarios = {
        {"mcp-remote", "no local MCP entry: the service's endpoint is probed without credentials",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             rememberSettings(mac);
         },
         Choice::check, false, confirmed + "\n" + kRemoteNote, keptAsTheyWere},
        {"mcp-remote-sign-in", "the service's endpoint asks for sign-in: said so, nothing changed",
         [](SimulatedMac& mac) {
             mac.saveConnection();
             McpAnswer signIn;
             signIn.status = 401;
             mac.server().serveMcp("/mcp", McpService{false, true, {{"initialize", signIn}}});
             rememberSettings(mac);
         },
         Choice::check, false, std::string(mcp::McpHealth::kSignInRequired) + "\n" + kRemoteNote,
         keptAsTheyWere},
        {"mcp-local", "the local entry is configured: proven through the helper, nothing written",
         [](SimulatedMac& mac) {
             // Written as the wizard itself writes it: the canonical entry, inserted in place.
             mac.saveConnection();
             const auto core = engine(mac);
             const auto patched =
                 mcp::LocalMcp::patch(base::readWhole(settings(mac)), core.helper().string(),
                                      config::ServiceEndpoints(core.deployment().apiBase));
             fs::remove(settings(mac));
             base::create(settings(mac), patched);
             rememberSettings(mac);
         },
         Choice::check, false, std::string(mcp::McpPresenter::kSavedConfirmedPrefix) + "2.",
         keptAsTheyWere},
        {"mcp-repair",
         "the remote OAuth entry is converted to the local one after the helper answered",
         [](SimulatedMac& mac) { saveWithMcp(mac, remoteMcpEntry(kApiBase)); }, Choice::connect,
         false, std::string(mcp::McpPresenter::kRepairedPrefix) + "2.",
         [](SimulatedMac& mac) -> std::string {
             if (!mcp::LocalMcp::configured(engine(mac)))
                 return "the local entry is not in place";
             return {};
         }},
        {"mcp-repair-cancel", "the user cancels while the helper is checked: nothing written",
         [](SimulatedMac& mac) {
             saveWithMcp(mac, remoteMcpEntry(kApiBase));
             mac.configureHelper({{"mcp", "wait-for-user"}});
             rememberSettings(mac);
         },
         Choice::connect, true, "", keptAsTheyWere},
        {"mcp-repair-broken-helper",
         "the helper's MCP server answers with an error: the user is told, nothing written",
         [](SimulatedMac& mac) {
             saveWithMcp(mac, remoteMcpEntry(kApiBase));
             mac.configureHelper({{"mcp", "error"}});
             rememberSettings(mac);
         },
         Choice::connect, false, "Настройки не поддерживаются. Исходные файлы сохранены.",
         keptAsTheyWere},
    };
    return kScenarios;
}

json remoteMcpEntry(std::string_view apiBase) {
    const std::string base(apiBase);
    return {{"type", "remote"},
            {"url", base + "/mcp"},
            {"enabled", true},
            {"oauth",
             {{"clientId", base + "/.well-known/oauth-client/orvek-cli-mcp.json"},
              {"scope", "mcp:tools offline_access"},
              {"redirectUri", "http://127.0.0.1:19876/mcp/oauth/callback"}}}};
}

} // namespace orvek::sandbox
