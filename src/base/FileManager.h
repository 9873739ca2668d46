#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace orvek::base {

/// The engine's view of the user's file system where it needs more than plain system calls.
/// Stateless; tests may derive from it to report other figures.
class FileManager {
public:
    virtual ~FileManager() = default;

    /// The current user's home folder from the user database, or $HOME when it has none.
    [[nodiscard]] virtual std::filesystem::path homeDirectoryForCurrentUser() const;

    /// Free bytes on the volume holding `path` for an ordinary user; absent when the file system
    /// does not say. Throws PlatformError.
    [[nodiscard]] virtual std::optional<std::uint64_t>
    availableCapacity(const std::filesystem::path& path) const;

    /// The process-wide default instance.
    [[nodiscard]] static std::shared_ptr<const FileManager> defaultManager();
};

} // namespace orvek::base
