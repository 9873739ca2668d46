#include "installer/InstallerCore.h"

#include "base/FilePrimitives.h"

namespace orvek::installer {

JsonValue InstallerCore::payloadManifest() const {
    return base::readObject(m_resources / "payloads.json");
}

std::optional<std::map<std::string, std::string>>
InstallerCore::stringEntry(const JsonValue& manifest, std::string_view key) {
    const auto entry = manifest.find(key);
    if (entry == manifest.end())
        return std::nullopt;
    return base::stringMap(*entry);
}

} // namespace orvek::installer
