#include "config/ExistingConnection.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "config/ConfigReader.h"
#include "config/PreservedConfig.h"
#include "config/ServiceEndpoints.h"
#include "installer/InstallerFailure.h"
#include "installer/JsonError.h"
#include "installer/PathPresence.h"

namespace orvek::config::ExistingConnection {

namespace {

namespace fs = std::filesystem;
using installer::Bytes;
using installer::InstallerCore;
using installer::InstallerFailure;
using installer::JsonValue;

// OpenCode's and the helper's configuration overrides: under any of them the files checked
// here are not the ones those programs use.
constexpr std::array<const char*, 5> kOverrideVariables = {"OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG",
                                                           "OPENCODE_CONFIG_CONTENT",
                                                           "ORVEK_CLI_STATE_DIR", "ORVEK_API_URL"};

constexpr const char* kConfigurationName = "opencode.jsonc";
constexpr const char* kKeyName = "orvek-api-key";
constexpr const char* kOverlayName = "opencode.json";
constexpr const char* kMarkerName = "opencode.json.orvek-preset-owned";

constexpr std::size_t kKeyFileLimit = 8192;
constexpr std::size_t kKeyShortest = 8;
constexpr std::size_t kKeyLongest = 4096;
constexpr std::string_view kProviderPackage = "@ai-sdk/openai-compatible";
constexpr std::string_view kFilePrefix = "{file:";
constexpr std::string_view kFileSuffix = "}";

InstallerFailure checkFailed() {
    return InstallerFailure(
        "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.",
        "EXISTING_CONNECTION_CHECK_FAILED");
}

InstallerFailure modelsMissing() {
    return InstallerFailure("В каталоге недоступен выбранный набор моделей. Настройки сохранены.");
}

[[noreturn]] void unsupported() {
    throw ConfigReader::failure();
}

// The member `name` of an object, or null when the value is no object or lacks it.
const JsonValue* member(const JsonValue& object, const char* name) {
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

const JsonValue& objectMember(const JsonValue& object, const char* name) {
    const auto* value = member(object, name);
    if (value == nullptr || !value->is_object())
        unsupported();
    return *value;
}

const std::string& textMember(const JsonValue& object, const char* name) {
    const auto* value = member(object, name);
    if (value == nullptr || !value->is_string())
        unsupported();
    return value->get_ref<const std::string&>();
}

// OpenCode's "{file:PATH}" reference naming the key file; a relative PATH counts from the
// configuration folder.
bool namesKeyFile(std::string_view reference, const fs::path& folder) {
    if (reference.size() <= kFilePrefix.size() + kFileSuffix.size() ||
        !reference.starts_with(kFilePrefix) || !reference.ends_with(kFileSuffix))
        return false;
    const fs::path named(
        reference.substr(kFilePrefix.size(), reference.size() - kFilePrefix.size() - 1));
    const auto resolved = named.is_absolute() ? named : folder / named;
    return resolved.lexically_normal() == (folder / kKeyName).lexically_normal();
}

void checkProvider(const JsonValue& configuration, const ServiceEndpoints& endpoints,
                   const fs::path& folder) {
    const auto& orvek = objectMember(objectMember(configuration, "provider"), "orvek");
    if (textMember(orvek, "npm") != kProviderPackage)
        unsupported();
    const auto& options = objectMember(orvek, "options");
    if (textMember(options, "baseURL") != endpoints.modelBase())
        unsupported();
    if (!namesKeyFile(textMember(options, "apiKey"), folder))
        unsupported();
}

// An optional list of provider names: when present it must be texts only, and "orvek" must be
// among them exactly when `orvekWanted`.
void checkProviderList(const JsonValue& configuration, const char* name, bool orvekWanted) {
    const auto* list = member(configuration, name);
    if (list == nullptr)
        return;
    if (!list->is_array() ||
        !std::all_of(list->begin(), list->end(), [](const JsonValue& v) { return v.is_string(); }))
        unsupported();
    const bool listed = std::find(list->begin(), list->end(), JsonValue("orvek")) != list->end();
    if (listed != orvekWanted)
        unsupported();
}

// Unicode white space and line breaks, as trimmed around a key pasted from anywhere.
bool isSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point of a well-formed UTF-8 sequence starting at `at`, and its length.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    return {c, length};
}

std::string trimmedKey(std::string_view keyBytes) {
    if (ConfigReader::invalidUtf8(keyBytes).has_value())
        unsupported();
    std::size_t first = 0;
    while (first < keyBytes.size()) {
        const auto [c, length] = decodeAt(keyBytes, first);
        if (!isSpace(c))
            break;
        first += length;
    }
    std::size_t last = keyBytes.size();
    while (last > first) {
        std::size_t lead = last - 1;
        while (lead > first && (static_cast<unsigned char>(keyBytes[lead]) & 0xC0) == 0x80)
            --lead;
        if (!isSpace(decodeAt(keyBytes, lead).first))
            break;
        last = lead;
    }
    const auto key = keyBytes.substr(first, last - first);
    if (key.size() < kKeyShortest || key.size() > kKeyLongest ||
        !std::all_of(key.begin(), key.end(),
                     [](char byte) { return byte >= 0x21 && byte <= 0x7E; }))
        unsupported();
    return std::string(key);
}

bool offersEveryModel(const JsonValue& catalogue) {
    const auto* data = member(catalogue, "data");
    if (data == nullptr || !data->is_array())
        return false;
    std::set<std::string, std::less<>> ids;
    for (const auto& entry : *data) {
        if (!entry.is_object())
            return false;
        if (const auto* id = member(entry, "id"); id != nullptr && id->is_string())
            ids.insert(id->get<std::string>());
    }
    return std::all_of(InstallerCore::orvekModels.begin(), InstallerCore::orvekModels.end(),
                       [&ids](std::string_view model) { return ids.contains(model); });
}

// ---- HTTP ----

struct EasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Once per process and never undone: another thread may still be in a transfer at exit.
void initialiseCurl() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw checkFailed();
}

List append(List list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr)
        throw std::bad_alloc();
    (void)list.release();
    return List(grown);
}

template <typename Value> void set(CURL* handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw checkFailed();
}

// The request's redirect policy: none is followed, so a 3xx response is itself the answer
// (and, not being 200, fails the check).
struct ExistingNoRedirect {
    static void apply(CURL* handle) {
        set(handle, CURLOPT_FOLLOWLOCATION, 0L);
        set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    }
};

struct Body {
    Bytes bytes;
    std::size_t limit = 0;
};

// Returning less than offered makes libcurl abort the transfer with a write error.
std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& body = *static_cast<Body*>(user);
    const std::size_t offered = size * count;
    if (offered > body.limit - body.bytes.size())
        return 0;
    try {
        body.bytes.append(data, offered);
    } catch (...) {
        // Exceptions must not cross libcurl's C frames; the aborted transfer reports it.
        return 0;
    }
    return offered;
}

long milliseconds(double seconds) {
    return static_cast<long>(seconds * 1000);
}

JsonValue decodeBody(const Bytes& body) {
    const auto refuse = [](std::size_t offset) {
        return installer::JsonError("Ответ сервиса содержит некорректный JSON (байт " +
                                        std::to_string(offset) + ").",
                                    offset);
    };
    // The decoder would stop at a NUL byte as if the text ended there; JSON never holds one raw.
    if (const auto nul = body.find('\0'); nul != Bytes::npos)
        throw refuse(nul);
    try {
        return JsonValue::parse(body);
    } catch (const JsonValue::parse_error& error) {
        throw refuse(error.byte > 0 ? error.byte - 1 : 0);
    } catch (const JsonValue::exception&) {
        throw refuse(0);
    }
}

} // namespace

void reuse(const InstallerCore& core, const Fetch& fetch) {
    for (const char* name : kOverrideVariables) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            unsupported();
    }
    core.ensureClosed();

    const auto folder = core.globalConfig();
    const auto configurationPath = folder / kConfigurationName;
    const auto keyPath = folder / kKeyName;
    const auto configuration = InstallerCore::read(configurationPath);
    const auto keyBytes = InstallerCore::read(keyPath);
    const auto parsed = ConfigReader::parse(configuration);
    if (keyBytes.size() > kKeyFileLimit)
        unsupported();
    checkProvider(parsed.dictionary, ServiceEndpoints(core.deployment().apiBase), folder);
    const auto key = trimmedKey(keyBytes);
    checkProviderList(parsed.dictionary, "enabled_providers", true);
    checkProviderList(parsed.dictionary, "disabled_providers", false);
    const auto patched = patch(configuration);

    validateOverlay(core);
    const auto before = overlaySnapshot(core);
    (void)fetch("key", key);
    if (!offersEveryModel(fetch("models", key)))
        throw modelsMissing();

    // The network wait is long enough for the user to change things; nothing is written then.
    core.ensureClosed();
    validateOverlay(core);
    if (InstallerCore::read(keyPath) != keyBytes || overlaySnapshot(core) != before)
        unsupported();

    if (patched != configuration)
        PreservedConfig::write(configurationPath, configuration, patched);
    if (InstallerCore::read(keyPath) != keyBytes ||
        InstallerCore::read(configurationPath) != patched || overlaySnapshot(core) != before)
        unsupported();
}

void reuse(const InstallerCore& core) {
    reuse(core, [&core](const std::string& path, const std::string& key) {
        return get(core.deployment(), path, key);
    });
}

JsonValue get(const installer::Deployment& deployment, const std::string& path,
              const std::string& key, const HttpLimits& limits) {
    initialiseCurl();
    const auto url = ServiceEndpoints(deployment.apiBase).modelBase() + "/" + path;
    const Easy easy(curl_easy_init());
    if (!easy)
        throw checkFailed();
    CURL* handle = easy.get();

    // The key is printable ASCII by now, so it cannot end the header line early.
    const List headers = append(List(), "Authorization: Bearer " + key);
    List connectTo;
    if (deployment.apiConnectTo)
        connectTo = append(List(), "::" + *deployment.apiConnectTo);
    Body body{{}, limits.maxBody};

    set(handle, CURLOPT_URL, url.c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "https");
    ExistingNoRedirect::apply(handle);
    set(handle, CURLOPT_HTTPGET, 1L);
    set(handle, CURLOPT_NOSIGNAL, 1L);
    set(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    set(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    set(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    set(handle, CURLOPT_HTTPHEADER, headers.get());
    set(handle, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(limits.idleSeconds));
    set(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(handle, CURLOPT_LOW_SPEED_TIME, std::max(1L, milliseconds(limits.idleSeconds) / 1000));
    set(handle, CURLOPT_TIMEOUT_MS, milliseconds(limits.totalSeconds));
    set(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBody));
    set(handle, CURLOPT_WRITEFUNCTION, &collect);
    set(handle, CURLOPT_WRITEDATA, static_cast<void*>(&body));
    if (deployment.extraTrustedCa)
        set(handle, CURLOPT_CAINFO, deployment.extraTrustedCa->c_str());
    if (connectTo)
        set(handle, CURLOPT_CONNECT_TO, connectTo.get());

    if (curl_easy_perform(handle) != CURLE_OK)
        throw checkFailed();
    long status = 0;
    char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK)
        throw checkFailed();
    if (status != 200 || effective == nullptr || url != effective || body.bytes.empty())
        throw checkFailed();

    auto value = decodeBody(body.bytes);
    if (!value.is_object() || value.contains("error"))
        throw checkFailed();
    return value;
}

Bytes patch(std::string_view bytes) {
    const auto parsed = ConfigReader::parse(bytes);
    const auto& top = *parsed.node.fields;
    const auto modelNode = top.find("model");
    if (modelNode == top.end() || !parsed.dictionary.at("model").is_string())
        unsupported();
    const auto child = [](const ConfigNode& node, const char* name) -> const ConfigNode& {
        if (!node.fields)
            unsupported();
        const auto found = node.fields->find(name);
        if (found == node.fields->end())
            unsupported();
        return found->second;
    };
    const auto& models = child(child(child(parsed.node, "provider"), "orvek"), "models");
    if (!models.fields)
        unsupported();

    struct Replacement {
        ByteRange range;
        Bytes text;
    };
    std::vector<Replacement> replacements;
    replacements.push_back(
        {modelNode->second.range,
         InstallerCore::json(JsonValue("orvek/" + std::string(InstallerCore::defaultOrvekModel)))});

    JsonValue missing = JsonValue::object();
    for (const auto model : InstallerCore::orvekModels) {
        const std::string id(model);
        if (!models.fields->contains(id))
            missing[id] = {{"name", id}};
    }
    if (!missing.empty()) {
        const auto serialised = InstallerCore::json(missing);
        auto entries = serialised.substr(1, serialised.size() - 2);
        if (!models.fields->empty())
            entries.insert(entries.begin(), ',');
        const auto closing = models.range.upperBound - 1;
        replacements.push_back({{closing, closing}, std::move(entries)});
    }

    // From the end backwards, so every earlier offset still points where it did.
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& a, const Replacement& b) {
                  return a.range.lowerBound > b.range.lowerBound;
              });
    Bytes result(bytes);
    for (const auto& replacement : replacements)
        result.replace(
            static_cast<std::size_t>(replacement.range.lowerBound),
            static_cast<std::size_t>(replacement.range.upperBound - replacement.range.lowerBound),
            replacement.text);
    return result;
}

void validateOverlay(const InstallerCore& core) {
    const auto folder = core.globalConfig();
    const auto overlayPath = folder / kOverlayName;
    if (!installer::present(overlayPath))
        return;
    const auto overlay = InstallerCore::read(overlayPath);
    (void)ConfigReader::parse(overlay);
    const auto markerPath = folder / kMarkerName;
    if (!installer::present(markerPath) || InstallerCore::read(markerPath) != overlay)
        unsupported();

    const auto freeProvider = InstallerCore::readObject(core.resources() / "free-provider.json");
    if (overlay == InstallerCore::presetBytes(freeProvider))
        return;
    auto withMcp = InstallerCore::presetDocument(freeProvider);
    withMcp["mcp"] = JsonValue::object({{"orvek", core.mcpConfiguration()}});
    if (overlay != InstallerCore::json(withMcp))
        unsupported();
    // Two definitions of the same MCP server would leave OpenCode to pick one silently.
    const auto configuration =
        ConfigReader::parse(InstallerCore::read(folder / kConfigurationName)).dictionary;
    if (const auto* mcp = member(configuration, "mcp");
        mcp != nullptr && (!mcp->is_object() || mcp->contains("orvek")))
        unsupported();
}

std::map<std::string, Bytes> overlaySnapshot(const InstallerCore& core) {
    const auto folder = core.globalConfig();
    std::map<std::string, Bytes> snapshot;
    for (const char* name : {kOverlayName, kMarkerName}) {
        const auto path = folder / name;
        InstallerCore::noLinks(path);
        if (installer::present(path))
            snapshot.emplace(name, InstallerCore::read(path));
    }
    return snapshot;
}

} // namespace orvek::config::ExistingConnection
