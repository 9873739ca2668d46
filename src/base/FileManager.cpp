#include "base/FileManager.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "base/PlatformError.h"

namespace orvek::base {

std::filesystem::path FileManager::homeDirectoryForCurrentUser() const {
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    return "/";
}

std::optional<std::uint64_t>
FileManager::availableCapacity(const std::filesystem::path& path) const {
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0)
        throwLastError("прочитать сведения о диске", path);
    // Blocks available to unprivileged users, the figure the Finder shows as free.
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

std::shared_ptr<const FileManager> FileManager::defaultManager() {
    static const auto kManager = std::make_shared<const FileManager>();
    return kManager;
}

} // namespace orvek::base
