#pragma once

#include <filesystem>

namespace orvek::base {

/// A name of this process's own making for a file or folder being prepared. Whatever stands
/// under it goes when the owner does, unless `keepAs` published it first.
class TempPath {
public:
    /// Takes charge of `path` before anything exists there: the name is new, so whatever appears
    /// under it is ours to remove.
    explicit TempPath(std::filesystem::path path);
    ~TempPath();
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

    /// Moves the item to `target` without ever replacing what stands there (PlatformError
    /// EEXIST), then flushes the target's folder so the new name survives a power cut. From then
    /// on nothing is removed; after a failure the item is still ours and still goes.
    void keepAs(const std::filesystem::path& target);

private:
    std::filesystem::path m_path;
    bool m_kept = false;
};

} // namespace orvek::base
