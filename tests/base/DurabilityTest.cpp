#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"

namespace orvek::base {
namespace {

const std::filesystem::path kChild = ORVEK_PUBLISH_CHILD;
const std::filesystem::path kFiuRun = "/usr/bin/fiu-run";

// A name that leads to a file before its bytes are on disk is what a power cut turns into an
// empty file. With every fsync failing (libfiu's POSIX wrappers), nothing may be published.
TEST(Durability, NothingIsPublishedWhenItCannotBeFlushed) {
    for (const char* mode : {"create", "keep"}) {
        SCOPED_TRACE(mode);
        test::TempHome home;
        const auto target = home / "published.json";

        // fiu-run preloads its wrappers; under the address sanitizer they come before its runtime.
        auto environment = currentEnvironment();
        environment.insert_or_assign("ASAN_OPTIONS", "verify_asan_link_order=0");
        const auto failing = run(
            kFiuRun,
            {"-x", "-c", "enable name=posix/io/sync/fsync", kChild.string(), mode, target.string()},
            std::nullopt, 60);
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

} // namespace
} // namespace orvek::base
