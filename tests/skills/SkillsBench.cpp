#include "SkillsBench.h"

#include <gtest/gtest.h>

#include "base/Hashing.h"
#include "base/ProcessRunner.h"

namespace orvek::test {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHelperBytes = "#!/bin/sh\necho helper\n";

} // namespace

SkillsBench::SkillsBench() {
    home.write("resources/payloads.json",
               R"({"cli-arm64":{"binarySha256":")" + base::hash(kHelperBytes) + R"("}})");
    fs::create_directories(home / "resources/toolkit");
}

void SkillsBench::package(const fs::path& relative, std::string_view bytes) const {
    home.write(fs::path("resources/toolkit") / relative, bytes);
}

void SkillsBench::useShippedToolkit() const {
    fs::remove_all(resources() / "toolkit");
    // The real cp, so the copy carries exactly what the repository holds.
    const auto copy = base::run(
        "/bin/cp", {"-R", ORVEK_RESOURCES_DIR "/toolkit", (resources() / "toolkit").string()},
        std::nullopt, 60);
    ASSERT_EQ(copy.status, 0) << copy.standardError;
}

void SkillsBench::installHelper() const {
    const auto helper = core().helper();
    fs::create_directories(helper.parent_path());
    home.write(fs::relative(helper, home.path()), kHelperBytes, fs::perms::owner_all);
}

installer::InstallerCore SkillsBench::core() const {
    return installer::InstallerCore(home / "resources", home.path(), home / ".config");
}

} // namespace orvek::test
