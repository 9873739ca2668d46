#include "installer/InstallerCore.h"

namespace orvek::installer {

void InstallerCore::installHelper() const {
    throw InstallerFailure("Отсутствует компонент подключения.");
}
void InstallerCore::verifyHelper() const {
    throw InstallerFailure("Отсутствует компонент подключения.");
}
std::string InstallerCore::helperBinaryHash() const {
    throw InstallerFailure("Отсутствует компонент подключения.");
}

} // namespace orvek::installer
