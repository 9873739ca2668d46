#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace orvek::test {

/// What one entry of a folder was when it was recorded.
struct SnapshotEntry {
    /// Pipes, sockets and devices are "other".
    enum class Kind { file, folder, link, other };

    Kind kind = Kind::other;
    /// A file's bytes or a link's target; empty for anything else.
    std::string content;
    /// The entry's own permission bits, a link's not its target's.
    unsigned mode = 0;
    /// A file's modification time, when times were asked for.
    std::optional<std::filesystem::file_time_type> written;

    bool operator==(const SnapshotEntry&) const = default;
};

/// Every entry under `folder` by relative path, links not followed; a `folder` that is itself a
/// link is one entry ".". With `times`, a file rewritten with the same bytes shows as changed.
[[nodiscard]] std::map<std::string, SnapshotEntry> snapshot(const std::filesystem::path& folder,
                                                            bool times = false);

/// Kind, mode and (shortened) content, so a failed comparison says what differs.
void PrintTo(const SnapshotEntry& entry, std::ostream* out);

/// The permission bits of what stands under `path`, a final link not followed; a test failure
/// (and 0) when nothing can be examined there.
[[nodiscard]] unsigned modeOf(const std::filesystem::path& path);

} // namespace orvek::test
