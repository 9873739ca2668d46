#include "installer/InstallerCore.h"

#include <charconv>

#include "base/FilePrimitives.h"
#include "base/Json.h"

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

std::optional<std::uint64_t>
InstallerCore::payloadSize(const std::map<std::string, std::string>& entry) {
    const auto size = entry.find("size");
    if (size == entry.end())
        return std::nullopt;
    const std::string& text = size->second;
    // Digits and nothing else; a number too large for 64 bits counts as no size.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

} // namespace orvek::installer
