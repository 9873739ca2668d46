#include "installer/ExistingConnection.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/FilePrimitives.h"
#include "base/HttpsClient.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PathPresence.h"
#include "config/ConfigReader.h"
#include "config/ModelPreset.h"
#include "config/PreservedConfig.h"
#include "config/ProductLists.h"
#include "config/SavedConnection.h"
#include "config/ServiceEndpoints.h"

namespace orvek::installer::ExistingConnection {

namespace {

constexpr const char* kConfigurationName = "opencode.jsonc";
constexpr const char* kKeyName = "orvek-api-key";
constexpr const char* kOverlayName = "opencode.json";
constexpr const char* kMarkerName = "opencode.json.orvek-preset-owned";

InstallerFailure checkFailed() {
    return InstallerFailure(
        "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.",
        "EXISTING_CONNECTION_CHECK_FAILED");
}

InstallerFailure modelsMissing() {
    return InstallerFailure("В каталоге недоступен выбранный набор моделей. Настройки сохранены.");
}

[[noreturn]] void unsupported() {
    throw config::ConfigReader::failure();
}

const JsonValue* member(const JsonValue& object, const char* name) {
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

// `get`'s redirect policy. The client never follows a redirect, so a 3xx answer arrives as the
// response itself; it is refused here by name, before the status check would refuse it anyway.
struct ExistingNoRedirect {
    [[nodiscard]] static bool redirected(const base::HttpsResponse& response) {
        return response.status >= 300 && response.status < 400;
    }
};

} // namespace

void reuse(const InstallerCore& core, const Fetch& fetch) {
    for (const char* name : config::overrideVariables) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            unsupported();
    }
    core.ensureClosed();

    const auto folder = core.globalConfig();
    const auto configurationPath = folder / kConfigurationName;
    const auto keyPath = folder / kKeyName;
    const auto configuration = base::read(configurationPath);
    const auto keyBytes = base::read(keyPath);
    const auto parsed = config::ConfigReader::parse(configuration);
    const auto key = config::SavedConnection::checkedKey(
        parsed.dictionary, keyBytes, config::ServiceEndpoints(core.deployment().apiBase), folder);
    const auto patched = patch(configuration);

    validateOverlay(core);
    const auto before = overlaySnapshot(core);
    (void)fetch("key", key);
    if (!config::SavedConnection::offersEveryModel(fetch("models", key)))
        throw modelsMissing();

    // The network wait is long enough for the user to change things; nothing is written then.
    core.ensureClosed();
    validateOverlay(core);
    if (base::read(keyPath) != keyBytes || overlaySnapshot(core) != before)
        unsupported();
    // An edit of the settings themselves is a change, not an unsupported file, even when the
    // patch has nothing to write and the guarded write below is skipped.
    if (base::read(configurationPath) != configuration)
        throw config::PreservedConfig::changed();

    if (patched != configuration)
        config::PreservedConfig::write(configurationPath, configuration, patched);
    if (base::read(keyPath) != keyBytes || base::read(configurationPath) != patched ||
        overlaySnapshot(core) != before)
        unsupported();
}

void reuse(const InstallerCore& core) {
    reuse(core, [&core](const std::string& path, const std::string& key) {
        return get(core.deployment(), path, key);
    });
}

JsonValue get(const Deployment& deployment, const std::string& path, const std::string& key,
              const base::HttpsLimits& limits) {
    base::HttpsRequest request;
    request.url = config::ServiceEndpoints(deployment.apiBase).modelBase() + "/" + path;
    // The key is printable ASCII by now, so it cannot end the header line early.
    request.headers = {"Authorization: Bearer " + key};
    request.limits = limits;
    request.trustedCa = deployment.extraTrustedCa;
    request.connectTo = deployment.apiConnectTo;

    base::HttpsResponse response;
    try {
        response = base::httpsGet(request);
    } catch (const base::HttpsError&) {
        throw checkFailed();
    }
    if (ExistingNoRedirect::redirected(response) || response.status != 200 || response.body.empty())
        throw checkFailed();

    auto value = base::decodeJson(response.body, [](std::size_t offset) {
        return base::JsonError("Ответ сервиса содержит некорректный JSON (байт " +
                                   std::to_string(offset) + ").",
                               offset);
    });
    if (!value.is_object() || value.contains("error"))
        throw checkFailed();
    return value;
}

void validateOverlay(const InstallerCore& core) {
    const auto folder = core.globalConfig();
    const auto overlayPath = folder / kOverlayName;
    if (!base::present(overlayPath))
        return;
    const auto overlay = base::read(overlayPath);
    (void)config::ConfigReader::parse(overlay);
    const auto markerPath = folder / kMarkerName;
    if (!base::present(markerPath) || base::read(markerPath) != overlay)
        unsupported();

    const auto freeProvider = base::readObject(core.resources() / "free-provider.json");
    if (overlay == config::presetBytes(freeProvider))
        return;
    auto withMcp = config::presetDocument(freeProvider);
    withMcp["mcp"] = JsonValue::object({{"orvek", core.mcpConfiguration()}});
    if (overlay != base::json(withMcp))
        unsupported();
    // Two definitions of the same MCP server would leave OpenCode to pick one silently.
    const auto configuration =
        config::ConfigReader::parse(base::read(folder / kConfigurationName)).dictionary;
    if (const auto* mcp = member(configuration, "mcp");
        mcp != nullptr && (!mcp->is_object() || mcp->contains("orvek")))
        unsupported();
}

std::map<std::string, Bytes> overlaySnapshot(const InstallerCore& core) {
    const auto folder = core.globalConfig();
    std::map<std::string, Bytes> snapshot;
    for (const char* name : {kOverlayName, kMarkerName}) {
        const auto path = folder / name;
        base::noLinks(path);
        if (base::present(path))
            snapshot.emplace(name, base::read(path));
    }
    return snapshot;
}

} // namespace orvek::installer::ExistingConnection
