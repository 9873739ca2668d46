#include "installer/InstallerCore.h"

#include "base/FilePrimitives.h"
#include "base/PathPresence.h"
#include "config/DesktopDefaults.h"

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

} // namespace

void InstallerCore::prepareDesktopDefaults(const std::filesystem::path& folder) {
    prepareDesktopDefaultsForTesting(folder, nullptr);
}

void InstallerCore::prepareDesktopDefaultsForTesting(const std::filesystem::path& folder,
                                                     const std::function<void()>& stateWritten) {
    base::noLinks(folder);
    const auto content = config::desktopDefaultsContent();
    const auto dat = folder / "opencode.global.dat";
    const auto marker = folder / "orvek-model-preset-v1.prepared";
    base::noLinks(dat);
    base::noLinks(marker);
    const bool used = base::present(folder / "drafts.sqlite") ||
                      base::present(folder / "drafts.sqlite-wal") ||
                      base::present(folder / "drafts.sqlite-shm");

    if (!base::present(dat)) {
        if (used || base::present(marker))
            throw InstallerFailure(kAlreadyUsed, kNotFresh);
        base::directory(folder);
        base::create(dat, content);
        const auto ours = base::identityOf(dat);
        try {
            if (stateWritten)
                stateWritten();
            base::create(marker, content);
            base::syncFolder(folder);
        } catch (...) {
            // Without its marker the state could not be recognised later; go back to fresh, but
            // never by removing a file that took the name since.
            if (ours)
                base::removeIfStill(dat, *ours);
            throw;
        }
        return;
    }

    if (base::read(dat) != content)
        throw InstallerFailure(kStateDiffers, kNotFresh);
    if (!base::present(marker)) {
        if (used)
            return;
        throw InstallerFailure(kMarkerLost, kNotFresh);
    }
    if (base::read(marker) != content)
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
