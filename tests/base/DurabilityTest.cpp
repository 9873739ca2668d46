#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"

namespace orvek::base {
namespace {

const std::filesystem::path kChild = ORVEK_PUBLISH_CHILD;
const std::filesystem::path kFiuRun = "/usr/bin/fiu-run";

// The publishing child under fiu-run with the failure point `point` enabled for every call.
ProcessResult runFailing(const char* point, const char* mode, const std::filesystem::path& target) {
    std::vector<std::string> arguments = {"-x", "-c", std::string("enable name=") + point};
    auto environment = currentEnvironment();
#if defined(ORVEK_SANITIZER_RUNTIME)
    // The sanitizer's runtime must be loaded before fiu's wrappers.
    arguments.insert(arguments.end(), {"/bin/sh", "-c", "LD_PRELOAD=\"$0 $LD_PRELOAD\" exec \"$@\"",
                                       ORVEK_SANITIZER_RUNTIME});
#endif
#if defined(ORVEK_ASAN)
    // fiu's own preload library keeps a string for good, which is no leak of ours.
    environment.insert_or_assign("ASAN_OPTIONS", "detect_leaks=0");
#endif
    arguments.insert(arguments.end(), {kChild.string(), mode, target.string()});
    return run(kFiuRun, arguments, environment, 60);
}

// A name that leads to a file before its bytes are on disk is what a power cut turns into an
// empty file. With every fsync failing (libfiu's POSIX wrappers), nothing may be published.
TEST(Durability, NothingIsPublishedWhenItCannotBeFlushed) {
    for (const char* mode : {"create", "keep"}) {
        SCOPED_TRACE(mode);
        test::TempHome home;
        const auto target = home / "published.json";

        const auto failing = runFailing("posix/io/sync/fsync", mode, target);
        EXPECT_EQ(failing.status, 1) << failing.standardError;
        EXPECT_NE(failing.standardError.find("сохранить"), std::string::npos)
            << failing.standardError;
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(std::filesystem::is_empty(home.path())) << "the temporary stayed behind";

        const auto working = run(kChild, {mode, target.string()}, std::nullopt, 60);
        EXPECT_EQ(working.status, 0) << working.standardError;
        EXPECT_EQ(test::slurp(target), "{\"published\":true}");
    }
}

// A new file is written whole under a name of its own first: with every write failing, neither
// the name nor a half-made file stays behind.
TEST(Durability, NothingIsLeftWhenTheBytesCannotBeWritten) {
    test::TempHome home;
    const auto target = home / "published.json";
    const auto failing = runFailing("posix/io/rw/write", "create", target);
    EXPECT_NE(failing.status, 0);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(std::filesystem::is_empty(home.path())) << "the temporary stayed behind";
}

} // namespace
} // namespace orvek::base
