#include "installer/InstallerCore.h"

namespace orvek::installer {

void InstallerCore::install(const std::function<void(const std::string&)>&) {
    throw InstallerFailure("Отсутствует компонент для этого Mac.");
}
void InstallerCore::verifyApp(const std::filesystem::path&) const {
    throw InstallerFailure("Отсутствует проверенный издатель OpenCode.");
}

} // namespace orvek::installer
