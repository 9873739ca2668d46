#include "installer/InstallerCore.h"

#include <cstdint>
#include <cstdlib>

#include "base/FilePrimitives.h"
#include "base/ProcessRunner.h"

namespace orvek::installer {

namespace {

// Decimal bytes: the figure the user sees in Finder, not 1.5 GiB.
constexpr std::uint64_t kRequiredFreeBytes = 1'500'000'000;
// pgrep's status when no process matched; every other status means running or unknown.
constexpr int kPgrepNoMatch = 1;

bool setAndNonEmpty(const char* value) {
    return value != nullptr && value[0] != '\0';
}

} // namespace

void InstallerCore::preflight() const {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); setAndNonEmpty(xdg) && xdg[0] != '/')
        throw InstallerFailure("XDG_CONFIG_HOME должен указывать абсолютную папку.");
    for (const char* name : config::overrideVariables) {
        if (setAndNonEmpty(std::getenv(name)))
            throw InstallerFailure(
                "Обнаружены нестандартные настройки окружения. Запустите мастер без переопределения настроек OpenCode и Орвека.");
    }

    // Kept even when a later check fails; the next attempt finds it in place.
    base::directory(root());

    if (const auto available = fm().availableCapacity(root());
        available && *available < kRequiredFreeBytes)
        throw InstallerFailure("Для установки нужно не менее 1,5 ГБ свободного места.");

    ensureClosed();
}

void InstallerCore::ensureClosed() const {
    const auto result =
        base::run(deployment().pgrep, {"-x", "OpenCode"}, std::nullopt, deployment().toolSeconds);
    // A pgrep ended by signal 1 also reads as 1; only its own "no match" exit will do.
    if (result.signaled || result.status != kPgrepNoMatch)
        throw InstallerFailure("Закройте OpenCode и повторите действие.");
}

} // namespace orvek::installer
