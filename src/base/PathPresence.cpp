#include "base/PathPresence.h"

#include <cerrno>
#include <sys/stat.h>

#include "base/PlatformError.h"

namespace orvek::base {

bool present(const std::filesystem::path& path) noexcept {
    struct stat attributes {};
    return ::lstat(path.c_str(), &attributes) == 0;
}

bool presentOrFail(const std::filesystem::path& path) {
    struct stat attributes {};
    if (::lstat(path.c_str(), &attributes) == 0)
        return true;
    if (errno != ENOENT)
        throwLastError("прочитать файл", path);
    return false;
}

} // namespace orvek::base
