#include "config/SavedConnection.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "base/Json.h"
#include "config/ConfigReader.h"
#include "config/ProductLists.h"

namespace orvek::config::SavedConnection {

namespace {

namespace fs = std::filesystem;
using base::Bytes;
using base::JsonValue;

constexpr std::size_t kKeyFileLimit = 8192;
constexpr std::size_t kKeyShortest = 8;
constexpr std::size_t kKeyLongest = 4096;
constexpr const char* kKeyName = "orvek-api-key";
constexpr std::string_view kProviderPackage = "@ai-sdk/openai-compatible";
constexpr std::string_view kFilePrefix = "{file:";
constexpr std::string_view kFileSuffix = "}";

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

} // namespace

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
    return std::all_of(orvekModels.begin(), orvekModels.end(),
                       [&ids](std::string_view model) { return ids.contains(model); });
}

std::string checkedKey(const JsonValue& configuration, std::string_view keyBytes,
                       const ServiceEndpoints& endpoints, const fs::path& folder) {
    if (keyBytes.size() > kKeyFileLimit)
        unsupported();
    checkProvider(configuration, endpoints, folder);
    auto key = trimmedKey(keyBytes);
    checkProviderList(configuration, "enabled_providers", true);
    checkProviderList(configuration, "disabled_providers", false);
    return key;
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
    replacements.push_back({modelNode->second.range,
                            base::json(JsonValue("orvek/" + std::string(defaultOrvekModel)))});

    JsonValue missing = JsonValue::object();
    for (const auto model : orvekModels) {
        const std::string id(model);
        if (!models.fields->contains(id))
            missing[id] = {{"name", id}};
    }
    if (!missing.empty()) {
        const auto serialised = base::json(missing);
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

} // namespace orvek::config::SavedConnection
