#include "installer/InstallerCore.h"

#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/TempPath.h"
#include "base/Uuid.h"
#include "config/ModelPreset.h"
#include "config/PreservedConfig.h"

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

void InstallerCore::applyPreset(const std::filesystem::path& folder) const {
    publishPreset(folder, nullptr);
}

void InstallerCore::applyPresetForTesting(const std::filesystem::path& folder,
                                          const std::function<void(PresetStep)>& hook) const {
    publishPreset(folder, hook);
}

void InstallerCore::publishPreset(const std::filesystem::path& folder,
                                  const std::function<void(PresetStep)>& hook) const {
    const auto reach = [&hook](PresetStep step) {
        if (hook)
            hook(step);
    };
    const auto helperConfiguration = folder / "opencode.jsonc";
    const auto preset = folder / "opencode.json";
    const auto marker = folder / "opencode.json.orvek-preset-owned";

    const auto first = base::read(helperConfiguration);
    refuseIncompatible(base::readObject(helperConfiguration));
    const auto freeProvider = base::readObject(resources() / "free-provider.json");
    verifyHelper();
    const auto bytes = config::presetBytes(freeProvider);
    base::noLinks(preset);
    base::noLinks(marker);

    if (!base::present(preset)) {
        // A marker left by an interrupted run is ours only if it holds exactly this preset.
        const bool marked = base::present(marker);
        if (marked && base::read(marker) != bytes)
            throw InstallerFailure(kMarkerChanged);
        (void)tryPrepareFreshDesktopDefaults(desktopData());
        if (!marked) {
            base::create(marker, bytes);
            base::syncFolder(folder);
        }
        reach(PresetStep::marked);
        // The helper may still be writing its file; a preset beside a half-written one is wrong.
        if (base::read(helperConfiguration) != first)
            throw InstallerFailure(kChangedWhileConnecting);
        base::TempPath temporary(folder / (".orvek-preset-" + base::newUuid()));
        base::create(temporary.path(), bytes);
        base::noLinks(preset);
        reach(PresetStep::staged);
        // Never over a file that appeared meanwhile: the user's stays and the step fails.
        temporary.keepAs(preset);
        return;
    }

    const auto current = base::read(preset);
    const auto mark = base::read(marker);
    if (current != bytes || mark != bytes)
        throw InstallerFailure(kAlreadyExists);
    (void)tryPrepareFreshDesktopDefaults(desktopData());
    // Writes nothing; fails if either file stopped holding the preset or a link appeared.
    config::PreservedConfig::write(preset, bytes, bytes);
    config::PreservedConfig::write(marker, bytes, bytes);
}

} // namespace orvek::installer
