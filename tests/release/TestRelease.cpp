#include "TestRelease.h"

#include <stdexcept>

#include "base/Hashing.h"
#include "base/Json.h"
#include "installer/Deployment.h"

namespace orvek::test {

namespace fs = std::filesystem;

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

TestRelease::TestRelease() {
    m_folder.write("OpenCode.dmg", std::string(300000, 'd') + "an image as the publisher ships it");
    m_folder.write("helper/orvek", "#!/bin/sh\necho the account helper\n",
                   fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    pack(archive(), {"orvek"});
}

std::string TestRelease::pin() const {
    return base::hashFile(archive());
}

void TestRelease::pack(const fs::path& archive, const std::vector<std::string>& entries) const {
    for (const auto& entry : entries)
        if (!fs::exists(helper().parent_path() / entry))
            m_folder.write(fs::path("helper") / entry, "more than the helper\n");
    std::vector<std::string> arguments = {"-C", helper().parent_path().string(), "-czf",
                                          archive.string()};
    arguments.insert(arguments.end(), entries.begin(), entries.end());
    const auto result = base::run("/usr/bin/tar", arguments, std::nullopt, 60);
    if (result.signaled || result.status != 0)
        throw std::runtime_error("tar: " + result.standardError);
}

std::vector<std::string> TestRelease::arguments(const fs::path& output) const {
    return {"--image",
            image().string(),
            "--image-url",
            kImageUrl,
            "--team",
            kTeam,
            "--archive",
            archive().string(),
            "--archive-url",
            kArchiveUrl,
            "--output",
            output.string(),
            "--archive-pin-for-testing",
            pin()};
}

base::ProcessResult payloads(const std::vector<std::string>& arguments) {
    return base::run(ORVEK_PAYLOADS_TOOL, arguments, std::nullopt, 120);
}

} // namespace orvek::test
