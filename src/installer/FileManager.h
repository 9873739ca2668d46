#pragma once

#include <filesystem>
#include <memory>

namespace orvek::installer {

/// The engine's view of the user's file system where it needs more than plain system calls.
/// Stateless; tests may derive from it to report other figures.
class FileManager {
public:
    virtual ~FileManager() = default;

    /// The current user's home folder from the user database, or $HOME when it has none.
    [[nodiscard]] virtual std::filesystem::path homeDirectoryForCurrentUser() const;

    /// The process-wide default instance.
    [[nodiscard]] static std::shared_ptr<const FileManager> defaultManager();
};

} // namespace orvek::installer
