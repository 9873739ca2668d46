// The manifest's writing step driven in-process, where a test can act between its checks and
// the moment the finished file gets its name.

#include "ReleaseManifest.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "installer/Deployment.h"

namespace orvek::tools {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

base::JsonValue validManifest() {
    return {{"desktopTeamID", "ORVEKSBX01"},
            {"arm64",
             {{"url", "https://downloads.orvek.test/OpenCode.dmg"},
              {"sha256", kHash},
              {"size", "123456"}}},
            {"cli-arm64",
             {{"url", "https://downloads.orvek.test/orvek.tar.gz"},
              {"sha256", installer::Deployment::production().helperArchiveHash},
              {"binarySha256", kHash},
              {"size", "4096"}}}};
}

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
