#include <unistd.h>

#include "installer/InstallerCore.h"
#include "installer/PathPresence.h"

namespace orvek::installer {

namespace {

constexpr const char* kNotFresh = "DESKTOP_NOT_FRESH";
constexpr const char* kAlreadyUsed =
    "В OpenCode уже есть настройки. Они сохранены; требуется отдельная проверка профиля.";
constexpr const char* kStateDiffers =
    "Существующие настройки моделей сохранены: требуется отдельная проверка профиля OpenCode.";
constexpr const char* kMarkerLost =
    "Профиль OpenCode изменён. Автоматическое восстановление отключено.";
constexpr const char* kMarkerDiffers = "Настройки моделей изменены.";

// OpenCode's global state with the service's models shown and the free ones hidden. The model
// choices are stored as JSON text inside the JSON document, as OpenCode itself stores them.
Bytes desktopContent() {
    JsonValue user = JsonValue::array();
    for (const auto model : InstallerCore::orvekModels)
        user.push_back({{"modelID", model}, {"providerID", "orvek"}, {"visibility", "show"}});
    for (const auto model : InstallerCore::freeModels)
        user.push_back(
            {{"modelID", model}, {"providerID", "opencode-free"}, {"visibility", "hide"}});
    const JsonValue choices = {
        {"recent", JsonValue::array()}, {"user", user}, {"variant", JsonValue::object()}};
    return InstallerCore::json({{"model", InstallerCore::json(choices)}});
}

} // namespace

void InstallerCore::prepareDesktopDefaults(const std::filesystem::path& folder) {
    noLinks(folder);
    const auto content = desktopContent();
    const auto dat = folder / "opencode.global.dat";
    const auto marker = folder / "orvek-model-preset-v1.prepared";
    noLinks(dat);
    noLinks(marker);
    const bool used = present(folder / "drafts.sqlite") || present(folder / "drafts.sqlite-wal") ||
                      present(folder / "drafts.sqlite-shm");

    if (!present(dat)) {
        if (used || present(marker))
            throw InstallerFailure(kAlreadyUsed, kNotFresh);
        directory(folder);
        create(dat, content);
        try {
            create(marker, content);
        } catch (...) {
            // Without its marker the state could not be recognised later; go back to fresh.
            ::unlink(dat.c_str());
            throw;
        }
        return;
    }

    if (read(dat) != content)
        throw InstallerFailure(kStateDiffers, kNotFresh);
    if (!present(marker)) {
        if (used)
            return;
        throw InstallerFailure(kMarkerLost, kNotFresh);
    }
    if (read(marker) != content)
        throw InstallerFailure(kMarkerDiffers, kNotFresh);
}

bool InstallerCore::tryPrepareFreshDesktopDefaults(const std::filesystem::path& folder) {
    try {
        prepareDesktopDefaults(folder);
        return true;
    } catch (const InstallerFailure& failure) {
        if (failure.code() == kNotFresh)
            return false;
        throw;
    }
}

} // namespace orvek::installer
