#pragma once

#include <filesystem>
#include <string>

namespace orvek::base {

/// A folder of this process's own making, removed with everything in it when the owner goes,
/// unless taken.
class TempFolder {
public:
    /// A fresh folder "`prefix`XXXXXX" in the system's temporary folder, resolved so that its
    /// path holds no symbolic link. Throws PlatformError.
    [[nodiscard]] static TempFolder unique(const std::string& prefix);

    /// Creates `path`, a new name, with `directory`; the folder goes even if that fails half way.
    explicit TempFolder(std::filesystem::path path);
    ~TempFolder();
    TempFolder(TempFolder&& other) noexcept;
    TempFolder& operator=(TempFolder&&) = delete;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return m_path / relative;
    }

    /// Leaves the folder in place for good and returns its path.
    std::filesystem::path take() noexcept;

private:
    struct Adopt {};
    TempFolder(Adopt, std::filesystem::path path) noexcept;

    std::filesystem::path m_path;
    bool m_taken = false;
};

/// Removes `path` and everything under it, first giving the owner access to folders left
/// read-only inside; errors are ignored. Links are removed, never followed.
void removeTree(const std::filesystem::path& path) noexcept;

} // namespace orvek::base
