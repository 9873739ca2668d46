#include "base/TempPath.h"

#include <cerrno>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/FilePrimitives.h"
#include "base/PlatformError.h"
#include "base/TempFolder.h"

namespace orvek::base {
namespace {

namespace fs = std::filesystem;

TEST(TempPath, KeepAsPublishesOnceAndNeverReplaces) {
    test::TempHome home;
    const auto target = home / "target";
    {
        TempPath temporary(home / "first.tmp");
        create(temporary.path(), "first");
        temporary.keepAs(target);
    }
    EXPECT_EQ(test::slurp(target), "first") << "a kept item is no longer removed";

    {
        TempPath temporary(home / "second.tmp");
        create(temporary.path(), "second");
        try {
            temporary.keepAs(target);
            ADD_FAILURE() << "replaced the file under the name";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.errnoValue(), EEXIST);
        }
    }
    EXPECT_EQ(test::slurp(target), "first");
    EXPECT_FALSE(fs::exists(home / "second.tmp")) << "an unpublished item goes with its owner";
}

TEST(TempPath, RemovesWhateverAppearedUnderItsName) {
    test::TempHome home;
    {
        const TempPath folder(home / "copy.app");
        fs::create_directories(folder.path() / "Contents/MacOS");
        home.write("copy.app/Contents/MacOS/OpenCode", "binary");
        fs::permissions(folder.path() / "Contents", fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_TRUE(fs::is_empty(home.path()));
}

TEST(TempFolder, GoesWithEverythingInsideUnlessTaken) {
    std::optional<fs::path> kept;
    fs::path removed;
    {
        auto gone = TempFolder::unique("orvek-temp-folder-test-");
        removed = gone.path();
        fs::create_directories(gone / "read-only/inner");
        fs::permissions(gone / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(fs::canonical(removed), removed) << "the path holds no link";

        auto taken = TempFolder::unique("orvek-temp-folder-test-");
        kept = taken.take();
    }
    EXPECT_FALSE(fs::exists(removed));
    ASSERT_TRUE(kept);
    EXPECT_TRUE(fs::is_directory(*kept));
    fs::remove_all(*kept);
}

TEST(TempFolder, ANamedFolderIsCreatedAndRemoved) {
    test::TempHome home;
    const auto path = home / "stage/helper";
    {
        const TempFolder staging(path);
        EXPECT_TRUE(fs::is_directory(path));
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_all);
        home.write("stage/helper/orvek", "x");
    }
    EXPECT_FALSE(fs::exists(path));
}

} // namespace
} // namespace orvek::base
