#include "base/PlatformError.h"

#include <cerrno>
#include <utility>

namespace orvek::base {

PlatformError::PlatformError(int errnoValue, std::string operation, std::filesystem::path path)
    : std::system_error(errnoValue, std::generic_category()), m_operation(std::move(operation)),
      m_path(std::move(path)) {
    m_description = "Не удалось " + m_operation;
    if (!m_path.empty())
        m_description += " «" + m_path.string() + "»";
    m_description += ": " + reason(errnoValue) + ".";
}

std::string PlatformError::reason(int errnoValue) {
    switch (errnoValue) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет доступа";
    case EEXIST:
        return "файл или папка уже существует";
    case ENOTDIR:
        return "часть пути не является папкой";
    case EISDIR:
        return "это папка, а не файл";
    case ENOSPC:
        return "на диске не осталось места";
#ifdef EDQUOT
    case EDQUOT:
        return "превышена дисковая квота";
#endif
    case EROFS:
        return "диск доступен только для чтения";
    case ELOOP:
        return "путь содержит символическую ссылку";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case EIO:
        return "ошибка ввода-вывода";
    case EBUSY:
        return "ресурс занят";
    case ENOTEMPTY:
        return "папка не пуста";
    case EXDEV:
        return "файлы находятся на разных дисках";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    case ENOMEM:
        return "недостаточно памяти";
    case ENOEXEC:
        return "файл не является программой";
    case ETXTBSY:
        return "файл программы занят";
    case E2BIG:
        return "слишком длинный список аргументов";
    case EAGAIN:
        return "ресурс временно недоступен";
    case EINVAL:
        return "недопустимый аргумент";
    case EFBIG:
        return "файл слишком большой";
    default:
        return "системная ошибка " + std::to_string(errnoValue);
    }
}

void throwLastError(const std::string& operation, const std::filesystem::path& path) {
    throw PlatformError(errno, operation, path);
}

} // namespace orvek::base
