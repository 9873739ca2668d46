#include "config/ExistingConnection.h"

#include "installer/InstallerFailure.h"

namespace orvek::config::ExistingConnection {

// Not built yet: every entry point refuses rather than pretending to check anything.
namespace {
[[noreturn]] void unavailable() {
    throw installer::InstallerFailure(
        "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.",
        "EXISTING_CONNECTION_CHECK_FAILED");
}
} // namespace

void reuse(const installer::InstallerCore&, const Fetch&) {
    unavailable();
}
void reuse(const installer::InstallerCore&) {
    unavailable();
}
installer::JsonValue get(const installer::Deployment&, const std::string&, const std::string&,
                         const HttpLimits&) {
    unavailable();
}
installer::Bytes patch(std::string_view) {
    unavailable();
}
void validateOverlay(const installer::InstallerCore&) {
    unavailable();
}
std::map<std::string, installer::Bytes> overlaySnapshot(const installer::InstallerCore&) {
    unavailable();
}

} // namespace orvek::config::ExistingConnection
