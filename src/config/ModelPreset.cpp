#include "config/PreservedConfig.h"
#include "installer/InstallerCore.h"
#include "installer/NoReplaceRename.h"
#include "installer/PathPresence.h"
#include "installer/ScopedRemoval.h"
#include "installer/Uuid.h"

namespace orvek::installer {

namespace {

constexpr const char* kIncompatible =
    "Существующие настройки несовместимы с набором моделей. Они сохранены.";
constexpr const char* kMcpPresent =
    "MCP Орвека уже задан в пользовательских настройках. Настройки сохранены.";
constexpr const char* kMarkerChanged = "Маркер набора моделей изменён.";
constexpr const char* kChangedWhileConnecting =
    "Настройки изменились во время подключения. Повторите проверку.";
constexpr const char* kAlreadyExists = "Файл настроек уже существует и сохранён без изменений.";

// Keys through which the user's configuration already decides which providers are enabled;
// a second file setting them would silently override the user's choice.
void refuseIncompatible(const JsonValue& configuration) {
    for (const char* key :
         {"policies", "experimental", "enabled_providers", "disabled_providers", "providers"})
        if (configuration.contains(key))
            throw InstallerFailure(kIncompatible);
    const auto provider = configuration.find("provider");
    if (provider == configuration.end() || !provider->is_object() || !provider->contains("orvek") ||
        provider->contains("opencode-free"))
        throw InstallerFailure(kIncompatible);
    const auto mcp = configuration.find("mcp");
    if (mcp != configuration.end() && mcp->is_object() && mcp->contains("orvek"))
        throw InstallerFailure(kMcpPresent);
}

} // namespace

JsonValue InstallerCore::mcpConfiguration() const {
    return {{"type", "local"},
            {"command", {helper().string(), "mcp"}},
            {"enabled", true},
            {"environment", {{"ORVEK_TOKEN_STORAGE", "file"}}},
            {"timeout", 60000}};
}

Bytes InstallerCore::presetBytes(const JsonValue& freeProvider) {
    return json(presetDocument(freeProvider));
}

JsonValue InstallerCore::presetDocument(const JsonValue& freeProvider) {
    return {{"enabled_providers", {"orvek", "opencode-free"}},
            {"provider", {{"opencode-free", freeProvider}}}};
}

void InstallerCore::applyPreset(const std::filesystem::path& folder) const {
    const auto helperConfiguration = folder / "opencode.jsonc";
    const auto preset = folder / "opencode.json";
    const auto marker = folder / "opencode.json.orvek-preset-owned";

    const auto first = read(helperConfiguration);
    refuseIncompatible(readObject(helperConfiguration));
    const auto freeProvider = readObject(resources() / "free-provider.json");
    verifyHelper();
    const auto bytes = presetBytes(freeProvider);
    noLinks(preset);
    noLinks(marker);

    if (!present(preset)) {
        // A marker left by an interrupted run is ours only if it holds exactly this preset.
        const bool marked = present(marker);
        if (marked && read(marker) != bytes)
            throw InstallerFailure(kMarkerChanged);
        (void)tryPrepareFreshDesktopDefaults(desktopData());
        if (!marked)
            create(marker, bytes);
        // The helper may still be writing its file; a preset beside a half-written one is wrong.
        if (read(helperConfiguration) != first)
            throw InstallerFailure(kChangedWhileConnecting);
        const ScopedRemoval temporary(folder / (".orvek-preset-" + newUuid()));
        create(temporary.path(), bytes);
        noLinks(preset);
        moveWithoutReplacing(temporary.path(), preset);
        return;
    }

    const auto current = read(preset);
    const auto mark = read(marker);
    if (current != bytes || mark != bytes)
        throw InstallerFailure(kAlreadyExists);
    (void)tryPrepareFreshDesktopDefaults(desktopData());
    // Writes nothing; fails if either file stopped holding the preset or a link appeared.
    config::PreservedConfig::write(preset, bytes, bytes);
    config::PreservedConfig::write(marker, bytes, bytes);
}

} // namespace orvek::installer
