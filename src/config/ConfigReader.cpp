#include "config/ConfigReader.h"

namespace orvek::config {

installer::InstallerFailure ConfigReader::failure() {
    return installer::InstallerFailure("Настройки не поддерживаются. Исходные файлы сохранены.",
                                       "CONFIGURATION_UNSUPPORTED");
}

} // namespace orvek::config
