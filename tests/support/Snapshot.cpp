#include "Snapshot.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "TempHome.h"

namespace orvek::test {

namespace fs = std::filesystem;

namespace {

SnapshotEntry entryOf(const fs::path& path, const fs::file_status& status, bool times) {
    SnapshotEntry entry;
    entry.mode = static_cast<unsigned>(status.permissions() & fs::perms::mask);
    switch (status.type()) {
    case fs::file_type::regular:
        entry.kind = SnapshotEntry::Kind::file;
        entry.content = slurp(path);
        if (times)
            entry.written = fs::last_write_time(path);
        break;
    case fs::file_type::directory:
        entry.kind = SnapshotEntry::Kind::folder;
        break;
    case fs::file_type::symlink:
        entry.kind = SnapshotEntry::Kind::link;
        entry.content = fs::read_symlink(path).string();
        break;
    default:
        entry.kind = SnapshotEntry::Kind::other;
        break;
    }
    return entry;
}

} // namespace

std::map<std::string, SnapshotEntry> snapshot(const fs::path& folder, bool times) {
    std::map<std::string, SnapshotEntry> entries;
    const auto status = fs::symlink_status(folder);
    if (fs::is_symlink(status)) {
        entries["."] = entryOf(folder, status, times);
        return entries;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries[entry.path().lexically_relative(folder).string()] =
            entryOf(entry.path(), entry.symlink_status(), times);
    }
    return entries;
}

void PrintTo(const SnapshotEntry& entry, std::ostream* out) {
    static constexpr const char* kinds[] = {"file", "folder", "link", "other"};
    *out << kinds[static_cast<int>(entry.kind)] << " " << std::oct << entry.mode << std::dec;
    // Bundles hold binaries; the start of the bytes and their size are enough to tell them apart.
    constexpr std::size_t shown = 60;
    if (!entry.content.empty())
        *out << " " << ::testing::PrintToString(entry.content.substr(0, shown))
             << (entry.content.size() > shown
                     ? " (" + std::to_string(entry.content.size()) + " bytes)"
                     : std::string());
    if (entry.written)
        *out << " written " << entry.written->time_since_epoch().count();
}

unsigned modeOf(const fs::path& path) {
    struct stat attributes {};
    EXPECT_EQ(::lstat(path.c_str(), &attributes), 0) << path;
    return attributes.st_mode & 07777;
}

} // namespace orvek::test
