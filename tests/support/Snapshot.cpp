#include "Snapshot.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "TempHome.h"

namespace orvek::test {

namespace fs = std::filesystem;

std::map<std::string, SnapshotEntry> snapshot(const fs::path& folder, bool times) {
    std::map<std::string, SnapshotEntry> entries;
    if (fs::is_symlink(folder)) {
        entries["."] = {"link " + fs::read_symlink(folder).string(), std::nullopt};
        return entries;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink())
            entries[name] = {"link " + fs::read_symlink(entry.path()).string(), std::nullopt};
        else if (entry.is_regular_file())
            entries[name] = {slurp(entry.path()),
                             times ? std::optional(fs::last_write_time(entry.path()))
                                   : std::nullopt};
        else
            entries[name] = {"folder", std::nullopt};
    }
    return entries;
}

unsigned modeOf(const fs::path& path) {
    struct stat attributes {};
    EXPECT_EQ(::lstat(path.c_str(), &attributes), 0) << path;
    return attributes.st_mode & 07777;
}

} // namespace orvek::test
