#include "installer/PlistError.h"

namespace orvek::installer {

PlistError::PlistError(const std::filesystem::path& path)
    : std::runtime_error("Не удалось прочитать Info.plist «" + path.string() +
                         "»: файл повреждён."),
      m_path(path) {}

} // namespace orvek::installer
