#include "installer/InstallerCore.h"

#include "base/FilePrimitives.h"

namespace orvek::installer {

JsonValue InstallerCore::payloadManifest() const {
    return base::readObject(m_resources / "payloads.json");
}

std::optional<std::map<std::string, std::string>>
InstallerCore::stringEntry(const JsonValue& manifest, std::string_view key) {
    const auto entry = manifest.find(key);
    if (entry == manifest.end() || !entry->is_object())
        return std::nullopt;
    std::map<std::string, std::string> strings;
    for (const auto& [name, value] : entry->items()) {
        // One value of another type makes the whole entry unusable.
        if (!value.is_string())
            return std::nullopt;
        strings.emplace(name, value.get<std::string>());
    }
    return strings;
}

} // namespace orvek::installer
