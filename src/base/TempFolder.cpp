#include "base/TempFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "base/FilePrimitives.h"
#include "base/PlatformError.h"

namespace orvek::base {

namespace fs = std::filesystem;

TempFolder TempFolder::unique(const std::string& prefix) {
    std::error_code error;
    const auto named = fs::temp_directory_path(error);
    const auto system = error ? fs::path() : fs::canonical(named, error);
    if (error)
        throw PlatformError(error.value(), "создать папку", named);
    std::string pattern = (system / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throwLastError("создать папку", pattern);
    return TempFolder(Adopt{}, pattern);
}

TempFolder::TempFolder(fs::path path) : m_path(std::move(path)) {
    try {
        directory(m_path);
    } catch (...) {
        removeTree(m_path);
        throw;
    }
}

TempFolder::TempFolder(Adopt, fs::path path) noexcept : m_path(std::move(path)) {}

TempFolder::TempFolder(TempFolder&& other) noexcept
    : m_path(std::move(other.m_path)), m_taken(std::exchange(other.m_taken, true)) {}

TempFolder::~TempFolder() {
    if (!m_taken)
        removeTree(m_path);
}

fs::path TempFolder::take() noexcept {
    m_taken = true;
    return m_path;
}

void removeTree(const fs::path& path) noexcept {
    if (path.empty())
        return;
    std::error_code ignored;
    // Copies and tests may leave read-only folders behind; open them up so removal succeeds.
    if (fs::is_directory(fs::symlink_status(path, ignored))) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(
                 path, fs::directory_options::skip_permission_denied, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(path, ignored);
}

} // namespace orvek::base
