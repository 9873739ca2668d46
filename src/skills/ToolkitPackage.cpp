#include "skills/ToolkitPackage.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/FilePrimitives.h"
#include "base/Pieces.h"
#include "base/PlatformError.h"

namespace orvek::skills {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMissingMessage = "Пакет направления отсутствует.";
constexpr const char* kIncompleteMessage = "Не удалось прочитать пакет направления целиком.";
constexpr const char* kOutsideMessage = "Недопустимый путь пакета.";
constexpr const char* kDamagedMessage = "Повреждён пакет направления.";

bool climbsOut(const std::string& relative) {
    for (const auto piece : base::Pieces(relative, '/'))
        if (piece == "..")
            return true;
    return false;
}

fs::path resolved(const fs::path& path) {
    std::error_code error;
    auto result = fs::canonical(path, error);
    if (error)
        throw base::PlatformError(error.value(), "прочитать пакет направления", path);
    return result;
}

void loadRoot(const fs::path& root, PackageMap& map) {
    base::noLinks(root);
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::none, error);
    if (error)
        throw base::InstallerFailure(kMissingMessage);
    const auto rootPath = resolved(root).string() + "/";

    for (; walk != fs::recursive_directory_iterator() && !error; walk.increment(error)) {
        const fs::path item = walk->path();
        base::noLinks(item);
        struct stat attributes {};
        if (::lstat(item.c_str(), &attributes) != 0)
            throw base::PlatformError(errno, "прочитать пакет направления", item);
        if (!S_ISREG(attributes.st_mode))
            continue;

        const auto itemPath = resolved(item).string();
        if (itemPath.size() <= rootPath.size() ||
            itemPath.compare(0, rootPath.size(), rootPath) != 0)
            throw base::InstallerFailure(kOutsideMessage);
        const auto relative = itemPath.substr(rootPath.size());
        if (relative.starts_with("/") || climbsOut(relative) || relative == kProfileMarkerName ||
            map.contains(relative))
            throw base::InstallerFailure(kDamagedMessage);
        map.emplace(relative, base::readWhole(item));
    }
    // The walk stops at its first error; an unreadable folder must not pass for a smaller package.
    if (error)
        throw base::InstallerFailure(kIncompleteMessage);
}

} // namespace

PackageMap bundledFiles(const installer::InstallerCore& core,
                        const std::vector<std::string>& roots) {
    PackageMap map;
    for (const auto& root : roots)
        loadRoot(core.resources() / root, map);
    return map;
}

} // namespace orvek::skills
