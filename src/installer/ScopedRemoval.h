#pragma once

#include <filesystem>
#include <system_error>
#include <utility>

namespace orvek::installer {

/// A file or folder of the engine's own making, under a fresh name, that goes with everything
/// in it when the scope ends, whatever the exit. Once moved into place the name leads nowhere
/// and nothing is removed.
class ScopedRemoval {
public:
    explicit ScopedRemoval(std::filesystem::path path) : m_path(std::move(path)) {}
    ~ScopedRemoval() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedRemoval(const ScopedRemoval&) = delete;
    ScopedRemoval& operator=(const ScopedRemoval&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace orvek::installer
