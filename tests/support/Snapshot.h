#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace orvek::test {

/// What one entry of a folder held when it was recorded.
struct SnapshotEntry {
    /// A file's bytes, "link TARGET" for a symbolic link, "folder" for a folder.
    std::string content;
    /// A file's modification time, when times were asked for.
    std::optional<std::filesystem::file_time_type> written;
    bool operator==(const SnapshotEntry&) const = default;
};

/// Every entry under `folder` by relative path, links not followed; a `folder` that is itself a
/// link is one entry ".". With `times`, a file rewritten with the same bytes shows as changed.
[[nodiscard]] std::map<std::string, SnapshotEntry> snapshot(const std::filesystem::path& folder,
                                                            bool times = false);

/// The permission bits of what stands under `path`, a final link not followed; a test failure
/// (and 0) when nothing can be examined there.
[[nodiscard]] unsigned modeOf(const std::filesystem::path& path);

} // namespace orvek::test
