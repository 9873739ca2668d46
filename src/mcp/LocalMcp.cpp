#include "mcp/LocalMcp.h"

#include <cstdlib>
#include <exception>
#include <string>

#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/ProcessEnvironment.h"
#include "config/ConfigReader.h"
#include "config/PreservedConfig.h"
#include "config/ProductLists.h"
#include "installer/ExistingConnection.h"
#include "installer/HelperCommand.h"
#include "mcp/McpResponse.h"
#include "mcp/McpStdioExchange.h"

namespace orvek::mcp::LocalMcp {

namespace {

using base::Bytes;
using base::JsonValue;
using installer::InstallerCore;
namespace ExistingConnection = installer::ExistingConnection;
namespace HelperCommand = installer::HelperCommand;

constexpr const char* kConfigurationName = "opencode.jsonc";
constexpr const char* kOverlayName = "opencode.json";

// Written to the helper exactly as they are, one per line.
constexpr std::string_view kInitializeLine =
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26","capabilities":{},"clientInfo":{"name":"orvek-setup-health","version":"0.5.0-pilot"}}})";
constexpr std::string_view kInitializedLine =
    R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
constexpr std::string_view kToolsLine =
    R"({"jsonrpc":"2.0","id":2,"method":"tools/list","params":{}})";

[[noreturn]] void unsupported() {
    throw config::ConfigReader::failure();
}

bool setAndNonEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

void refuseOverrides() {
    for (const char* name : config::overrideVariables)
        if (setAndNonEmpty(name))
            unsupported();
}

const JsonValue* member(const JsonValue& object, const char* name) {
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

bool hasExactly(const JsonValue& object, std::initializer_list<const char*> names) {
    if (!object.is_object() || object.size() != names.size())
        return false;
    for (const char* name : names)
        if (!object.contains(name))
            return false;
    return true;
}

bool isText(const JsonValue* value, std::string_view text) {
    return value != nullptr && value->is_string() && value->get_ref<const std::string&>() == text;
}

// The entry OpenCode writes when it signs in to the service's MCP with OAuth itself: the only
// existing value the local entry may replace.
bool isRemoteEntry(const JsonValue& entry, const config::ServiceEndpoints& endpoints) {
    if (!hasExactly(entry, {"type", "url", "enabled", "oauth"}))
        return false;
    const auto* enabled = member(entry, "enabled");
    const auto* oauth = member(entry, "oauth");
    return isText(member(entry, "type"), "remote") &&
           isText(member(entry, "url"), endpoints.mcp()) && enabled->is_boolean() &&
           enabled->get<bool>() && hasExactly(*oauth, {"clientId", "scope", "redirectUri"}) &&
           isText(member(*oauth, "clientId"), endpoints.oauthClient()) &&
           isText(member(*oauth, "scope"), config::ServiceEndpoints::kOAuthScope) &&
           isText(member(*oauth, "redirectUri"), config::ServiceEndpoints::kOAuthRedirect);
}

config::ServiceEndpoints endpointsOf(const InstallerCore& core) {
    return config::ServiceEndpoints(core.deployment().apiBase);
}

int checkHelper(const InstallerCore& core, McpCancellation& cancellation,
                std::chrono::milliseconds timeout) {
    environmentCheck();
    if (cancellation.cancelled())
        unsupported();
    core.verifyHelper();
    auto environment = base::currentEnvironment();
    environment.insert_or_assign(std::string(HelperCommand::kTokenStorageVariable),
                                 std::string(HelperCommand::kTokenStorage));
    return probeCommand(core.helper(), HelperCommand::mcpArguments(), environment, core.home(),
                        cancellation, timeout);
}

} // namespace

base::InstallerFailure timedOut() {
    return base::InstallerFailure(std::string(kTimedOut));
}

base::InstallerFailure changed() {
    return base::InstallerFailure(std::string(kChanged), "CONFIGURATION_CHANGED");
}

void environmentCheck() {
    refuseOverrides();
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME");
        xdg != nullptr && xdg[0] != '\0' && xdg[0] != '/')
        unsupported();
}

JsonValue localEntry(const std::string& helperPath) {
    return {{"type", "local"},
            {"command", {helperPath, "mcp"}},
            {"enabled", true},
            {"environment",
             {{std::string(HelperCommand::kTokenStorageVariable),
               std::string(HelperCommand::kTokenStorage)}}},
            {"timeout", 60000}};
}

Bytes patch(std::string_view data, const std::string& helperPath,
            const config::ServiceEndpoints& endpoints) {
    if (!helperPath.starts_with('/'))
        unsupported();
    const auto parsed = config::ConfigReader::parse(data);
    const auto entry = localEntry(helperPath);
    const auto entryBytes = base::json(entry);
    const auto& root = parsed.node;

    if (!parsed.dictionary.contains("mcp")) {
        const auto wrapped = base::json(JsonValue::object({{"mcp", {{"orvek", entry}}}}));
        // The member without the braces around it, after a comma when members precede it.
        Bytes inserted = root.fields && !root.fields->empty() ? Bytes(",") : Bytes();
        inserted.append(wrapped, 1, wrapped.size() - 2);
        Bytes result(data);
        result.insert(static_cast<std::size_t>(root.range.upperBound - 1), inserted);
        return result;
    }

    const auto mcpNode = root.fields->find("mcp");
    if (mcpNode == root.fields->end() || !mcpNode->second.fields || mcpNode->second.fields->empty())
        unsupported();
    const auto orvekNode = mcpNode->second.fields->find("orvek");
    const auto* mcp = member(parsed.dictionary, "mcp");
    const auto* orvek = mcp == nullptr ? nullptr : member(*mcp, "orvek");
    if (orvekNode == mcpNode->second.fields->end() || orvek == nullptr || !orvek->is_object())
        unsupported();

    const auto& range = orvekNode->second.range;
    const auto start = static_cast<std::size_t>(range.lowerBound);
    const auto length = static_cast<std::size_t>(range.upperBound - range.lowerBound);
    if (data.substr(start, length) == entryBytes)
        return Bytes(data);
    if (!isRemoteEntry(*orvek, endpoints))
        unsupported();
    Bytes result(data);
    result.replace(start, length, entryBytes);
    return result;
}

Bytes patch(std::string_view data, const std::string& helperPath) {
    return patch(data, helperPath,
                 config::ServiceEndpoints(installer::Deployment::production().apiBase));
}

bool configured(const InstallerCore& core) noexcept {
    try {
        environmentCheck();
        ExistingConnection::validateOverlay(core);
        const auto folder = core.globalConfig();
        const auto overlayPath = folder / kOverlayName;
        if (base::present(overlayPath)) {
            const auto overlay = base::readObject(overlayPath);
            const auto* mcp = member(overlay, "mcp");
            if (mcp != nullptr && mcp->is_object() && mcp->contains("orvek"))
                return base::json((*mcp)["orvek"]) == base::json(core.mcpConfiguration());
        }
        const auto data = base::read(folder / kConfigurationName);
        return patch(data, core.helper().string(), endpointsOf(core)) == data;
    } catch (...) {
        return false;
    }
}

int probe(const InstallerCore& core, McpCancellation& cancellation) {
    return checkHelper(core, cancellation, kTimeout);
}

int probeForTesting(const InstallerCore& core, McpCancellation& cancellation,
                    std::chrono::milliseconds timeout) {
    return checkHelper(core, cancellation, timeout);
}

int probeCommand(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                 const base::Environment& environment,
                 const std::optional<std::filesystem::path>& workingDirectory,
                 const McpCancellation& cancellation, std::chrono::milliseconds timeout) {
    McpStdioExchange exchange(executable, arguments, environment, workingDirectory,
                              McpStdioExchange::Clock::now() + timeout);
    exchange.send(kInitializeLine);
    const auto initialized = exchange.result(1, cancellation);
    const auto* version = member(initialized, "protocolVersion");
    const auto* capabilities = member(initialized, "capabilities");
    if (version == nullptr || !version->is_string() || capabilities == nullptr ||
        !capabilities->is_object())
        unsupported();
    exchange.send(kInitializedLine);
    exchange.send(kToolsLine);
    const auto count = McpResponse::toolCount(exchange.result(2, cancellation));
    if (!count)
        throw base::InstallerFailure(std::string(kNoTools));
    return static_cast<int>(*count);
}

int probeConfigured(const InstallerCore& core, McpCancellation& cancellation, const Check& check) {
    const auto path = core.globalConfig() / kConfigurationName;
    const auto first = base::read(path);
    const auto before = ExistingConnection::overlaySnapshot(core);
    if (!configured(core))
        unsupported();
    const int count = check(core, cancellation);
    if (cancellation.cancelled() || base::read(path) != first ||
        ExistingConnection::overlaySnapshot(core) != before || !configured(core))
        throw changed();
    return count;
}

int repair(const InstallerCore& core, McpCancellation& cancellation, const Check& check) {
    return repairForTesting(core, cancellation, check, {});
}

int repairForTesting(const InstallerCore& core, McpCancellation& cancellation, const Check& check,
                     const std::function<void()>& written) {
    refuseOverrides();
    if (cancellation.cancelled())
        unsupported();
    ExistingConnection::validateOverlay(core);
    const auto folder = core.globalConfig();
    if (const auto overlayPath = folder / kOverlayName; base::present(overlayPath))
        if (base::readObject(overlayPath).contains("mcp"))
            unsupported();

    const auto before = ExistingConnection::overlaySnapshot(core);
    const auto path = folder / kConfigurationName;
    const auto expected = base::read(path);
    const auto patched = patch(expected, core.helper().string(), endpointsOf(core));

    const int count = check(core, cancellation);
    // Past this point the change is no longer the user's to cancel.
    if (cancellation.cancelled())
        unsupported();
    core.ensureClosed();
    ExistingConnection::validateOverlay(core);
    if (ExistingConnection::overlaySnapshot(core) != before)
        unsupported();

    config::PreservedConfig::write(path, expected, patched);
    if (written)
        written();
    if (base::read(path) != patched || ExistingConnection::overlaySnapshot(core) != before)
        unsupported();
    return count;
}

} // namespace orvek::mcp::LocalMcp
