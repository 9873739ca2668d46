// The manifest's writing step driven in-process, where a test can act between its checks and
// the moment the finished file gets its name.

#include "ReleaseManifest.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "TestRelease.h"
#include "installer/Deployment.h"

namespace orvek::tools {
namespace {

namespace fs = std::filesystem;
using test::validManifest;

TEST(ReleaseManifest, AFileMadeAfterTheExistenceCheckIsNotReplaced) {
    const test::TempHome folder;
    const auto output = folder / "payloads.json";
    std::string refusal;
    try {
        ReleaseManifest::writeForTesting(validManifest(), output,
                                         installer::Deployment::production().helperArchiveHash,
                                         [&] { folder.write("payloads.json", "another release"); });
    } catch (const ReleaseRefusal& error) {
        refusal = error.what();
    }
    EXPECT_EQ(refusal, output.string() + " уже существует: удалите его или выберите другое имя.");
    EXPECT_EQ(test::slurp(output), "another release");
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path(), output);
}

} // namespace
} // namespace orvek::tools
