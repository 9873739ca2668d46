#include "base/PlistError.h"

namespace orvek::base {

PlistError::PlistError(const std::filesystem::path& path)
    : std::runtime_error("Не удалось прочитать Info.plist «" + path.string() +
                         "»: файл повреждён."),
      m_path(path) {}

} // namespace orvek::base
