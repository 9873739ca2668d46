// The release's install step run as packaging runs it, into a throwaway prefix: the bundle tree
// it lays out, what it refuses, and the installed application finding its resources inside the
// bundle, as it will in "Contents/Resources" on a Mac.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include "TempHome.h"
#include "TestRelease.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"

namespace orvek {
namespace {

namespace fs = std::filesystem;
using test::TestRelease;

constexpr const char* kMissingFiles = "Не найдены файлы мастера. Переустановите приложение.";

fs::path contents(const fs::path& prefix) {
    return prefix / (std::string(ORVEK_BUNDLE_NAME) + ".app") / "Contents";
}

// `cmake --install` with values given on its command line, as the release engineer may give them.
base::ProcessResult install(const fs::path& prefix, const std::vector<std::string>& values) {
    std::vector<std::string> arguments = {"-DCMAKE_INSTALL_PREFIX=" + prefix.string()};
    arguments.insert(arguments.end(), values.begin(), values.end());
    arguments.push_back("-P");
    arguments.push_back(std::string(ORVEK_BUILD_DIR) + "/cmake_install.cmake");
    return base::run(ORVEK_CMAKE, arguments, std::nullopt, 300);
}

// A release whose manifest orvek-payloads made, installed under `prefix`.
class InstalledBundle : public ::testing::Test {
protected:
    void SetUp() override {
        const auto made = test::payloads(m_release.arguments(manifest()));
        ASSERT_EQ(made.status, 0) << made.standardError;
        const auto result =
            install(m_prefix.path(), {"-DORVEK_PAYLOADS=" + manifest().string(),
                                      "-DORVEK_PAYLOADS_PIN_FOR_TESTING=" + m_release.pin()});
        ASSERT_EQ(result.status, 0) << result.standardOutput << result.standardError;
    }

    [[nodiscard]] fs::path manifest() const { return m_release.folder() / "payloads.json"; }
    [[nodiscard]] fs::path bundle() const { return contents(m_prefix.path()); }

    // The installed executable's render of `screen`, run from the bundle tree under `root`.
    [[nodiscard]] base::ProcessResult render(const fs::path& root, const fs::path& output) const {
        auto environment = base::currentEnvironment();
        environment.insert_or_assign("QT_QPA_PLATFORM", "offscreen");
        return base::run(contents(root) / "MacOS/orvek-setup",
                         {"--render", "welcome", output.string()}, environment, 120);
    }

    // A copy of the installed tree without the named resources.
    [[nodiscard]] fs::path copyWithout(const std::vector<std::string>& names) const {
        const auto root = m_scratch / std::to_string(m_copies++);
        fs::create_directories(root);
        fs::copy(m_prefix.path(), root, fs::copy_options::recursive);
        for (const auto& name : names)
            fs::remove(contents(root) / "Resources" / name);
        return root;
    }

    TestRelease m_release;
    test::TempHome m_prefix;
    test::TempHome m_scratch;
    mutable int m_copies = 0;
};

struct PlistFree {
    void operator()(plist_t node) const noexcept { plist_free(node); }
};

std::string plistString(plist_t dictionary, const char* key) {
    const plist_t item = plist_dict_get_item(dictionary, key);
    if (item == nullptr || plist_get_node_type(item) != PLIST_STRING)
        return "(no string " + std::string(key) + ")";
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return std::string(text, length);
}

TEST_F(InstalledBundle, LaysOutTheApplicationAsAMacBundle) {
    const auto executable = bundle() / "MacOS/orvek-setup";
    ASSERT_TRUE(fs::is_regular_file(executable));
    EXPECT_NE(fs::status(executable).permissions() & fs::perms::owner_exec, fs::perms::none);

    const auto info = test::slurp(bundle() / "Info.plist");
    plist_t parsed = nullptr;
    plist_from_xml(info.data(), static_cast<std::uint32_t>(info.size()), &parsed);
    ASSERT_NE(parsed, nullptr);
    const std::unique_ptr<void, PlistFree> plist(parsed);
    EXPECT_EQ(plistString(parsed, "CFBundleExecutable"), "orvek-setup");
    EXPECT_EQ(plistString(parsed, "CFBundleIdentifier"), ORVEK_BUNDLE_IDENTIFIER);
    EXPECT_EQ(plistString(parsed, "CFBundleDisplayName"), "Орвек");
    EXPECT_EQ(plistString(parsed, "CFBundleShortVersionString"), ORVEK_PROJECT_VERSION);
    EXPECT_EQ(plistString(parsed, "CFBundleVersion"), ORVEK_PROJECT_VERSION);
    EXPECT_EQ(plistString(parsed, "CFBundlePackageType"), "APPL");
    EXPECT_EQ(plistString(parsed, "LSMinimumSystemVersion"), ORVEK_MACOS_MINIMUM);
    const plist_t architectures = plist_dict_get_item(parsed, "LSArchitecturePriority");
    ASSERT_NE(architectures, nullptr);
    ASSERT_EQ(plist_array_get_size(architectures), 1U);
    std::uint64_t length = 0;
    const char* architecture =
        plist_get_string_ptr(plist_array_get_item(architectures, 0), &length);
    EXPECT_EQ(std::string(architecture, length), "arm64");

    // Every resource the wizard reads, byte for byte what the release and the build made.
    const auto resources = bundle() / "Resources";
    const fs::path source = ORVEK_RESOURCES_DIR;
    EXPECT_EQ(test::slurp(resources / "payloads.json"), test::slurp(manifest()));
    EXPECT_EQ(test::slurp(resources / "free-provider.json"),
              test::slurp(source / "free-provider.json"));
    int toolkitFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(source / "toolkit")) {
        if (!entry.is_regular_file())
            continue;
        ++toolkitFiles;
        const auto relative = fs::relative(entry.path(), source);
        EXPECT_EQ(test::slurp(resources / relative), test::slurp(entry.path())) << relative;
    }
    EXPECT_GT(toolkitFiles, 0);
    for (const char* name :
         {"Onest-Regular.ttf", "orvek-cat-hero-v1.png", "orvek-cat-hero-v1@2x.png"})
        EXPECT_GT(fs::file_size(resources / name), 0U) << name;
    // The art's vector source is the build's input, not the application's.
    EXPECT_FALSE(fs::exists(resources / "art"));
    EXPECT_FALSE(fs::exists(resources / "promo.json"));
}

TEST_F(InstalledBundle, TheApplicationFindsItsResourcesInsideTheBundle) {
    const auto drawn = m_scratch / "welcome.png";
    const auto result = render(m_prefix.path(), drawn);
    ASSERT_EQ(result.status, 0) << result.standardError;
    const auto picture = test::slurp(drawn);
    EXPECT_TRUE(picture.starts_with("\x89PNG")) << drawn;

    // Drawn as the build tree draws it, where the font and the cat lie beside the executable.
    const auto reference = m_scratch / "reference.png";
    auto environment = base::currentEnvironment();
    environment.insert_or_assign("QT_QPA_PLATFORM", "offscreen");
    const auto built = base::run(ORVEK_SETUP_PROGRAM, {"--render", "welcome", reference.string()},
                                 environment, 120);
    ASSERT_EQ(built.status, 0) << built.standardError;
    EXPECT_EQ(picture, test::slurp(reference));

    // And each of them was taken from the bundle: without it the same screen looks different.
    for (const auto& missing : std::vector<std::vector<std::string>>{
             {"Onest-Regular.ttf"}, {"orvek-cat-hero-v1.png", "orvek-cat-hero-v1@2x.png"}}) {
        const auto root = copyWithout(missing);
        const auto other = root / "welcome.png";
        const auto without = render(root, other);
        ASSERT_EQ(without.status, 0) << missing.front() << ": " << without.standardError;
        EXPECT_NE(test::slurp(other), picture) << "drawn the same without " << missing.front();
    }
}

TEST_F(InstalledBundle, WithoutItsManifestTheApplicationSaysItsFilesAreMissing) {
    const auto root = copyWithout({"payloads.json"});
    const auto drawn = root / "welcome.png";
    const auto result = render(root, drawn);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find(kMissingFiles), std::string::npos) << result.standardError;
    EXPECT_FALSE(fs::exists(drawn));
}

TEST_F(InstalledBundle, TheSimulatedMacRunsFreshOnTheInstalledResources) {
    const test::TempHome home;
    const auto result =
        base::run(ORVEK_SANDBOX,
                  {"run", "--scenario", "fresh", "--home", home.path().string(), "--resources",
                   (bundle() / "Resources").string(), "--payloads-tool", ORVEK_PAYLOADS_TOOL},
                  std::nullopt, 300);
    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_TRUE(result.standardOutput.ends_with("\nready\n")) << result.standardOutput;
}

TEST(BundleInstall, ShipsThePromoRecordWhenGivenOne) {
    const TestRelease release;
    const test::TempHome prefix;
    const auto manifest = release.folder() / "payloads.json";
    ASSERT_EQ(test::payloads(release.arguments(manifest)).status, 0);
    release.folder().write("campaign.json", R"({"code":"SPRING"})");

    const auto result =
        install(prefix.path(), {"-DORVEK_PAYLOADS=" + manifest.string(),
                                "-DORVEK_PAYLOADS_PIN_FOR_TESTING=" + release.pin(),
                                "-DORVEK_PROMO=" + (release.folder() / "campaign.json").string()});
    ASSERT_EQ(result.status, 0) << result.standardError;
    EXPECT_EQ(test::slurp(contents(prefix.path()) / "Resources/promo.json"),
              R"({"code":"SPRING"})");
}

struct RefusedInstall {
    const char* name;
    // The install's values, given the release's own manifest and pin.
    std::vector<std::string> (*values)(const fs::path& manifest, const std::string& pin);
    const char* says;
};

void PrintTo(const RefusedInstall& row, std::ostream* out) {
    *out << row.name;
}

class BundleInstallRefuses : public ::testing::TestWithParam<RefusedInstall> {};

TEST_P(BundleInstallRefuses, BeforeLayingOutAnything) {
    const TestRelease release;
    const test::TempHome prefix;
    const auto manifest = release.folder() / "payloads.json";
    ASSERT_EQ(test::payloads(release.arguments(manifest)).status, 0);
    release.folder().write(
        "http.json", R"({"desktopTeamID":"ORVEKSBX01","arm64":{"url":"http://orvek.test/a.dmg",)"
                     R"("sha256":")" +
                         release.pin() +
                         R"("},"cli-arm64":{"url":"https://orvek.test/o.tar.gz","sha256":")" +
                         release.pin() + R"(","binarySha256":")" + release.pin() + R"("}})");

    const auto result = install(prefix.path(), GetParam().values(manifest, release.pin()));
    EXPECT_NE(result.status, 0);
    const auto said = result.standardOutput + result.standardError;
    EXPECT_NE(said.find(GetParam().says), std::string::npos) << said;
    EXPECT_TRUE(fs::is_empty(prefix.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Releases, BundleInstallRefuses,
    ::testing::Values(
        RefusedInstall{
            "no_manifest",
            [](const fs::path&, const std::string&) { return std::vector<std::string>{}; },
            "Нет манифеста выпуска"},
        RefusedInstall{"missing_manifest",
                       [](const fs::path& manifest, const std::string&) {
                           return std::vector<std::string>{"-DORVEK_PAYLOADS=" + manifest.string() +
                                                           ".absent"};
                       },
                       "Манифеста выпуска нет"},
        RefusedInstall{"archive_not_the_pinned_one",
                       [](const fs::path& manifest, const std::string&) {
                           return std::vector<std::string>{"-DORVEK_PAYLOADS=" + manifest.string()};
                       },
                       "не тот, что закреплён в приложении"},
        RefusedInstall{"image_over_http",
                       [](const fs::path& manifest, const std::string& pin) {
                           return std::vector<std::string>{
                               "-DORVEK_PAYLOADS=" +
                                   (manifest.parent_path() / "http.json").string(),
                               "-DORVEK_PAYLOADS_PIN_FOR_TESTING=" + pin};
                       },
                       "Адрес в записи «arm64» манифеста должен начинаться с https://."},
        RefusedInstall{"missing_promo",
                       [](const fs::path& manifest, const std::string& pin) {
                           return std::vector<std::string>{
                               "-DORVEK_PAYLOADS=" + manifest.string(),
                               "-DORVEK_PAYLOADS_PIN_FOR_TESTING=" + pin,
                               "-DORVEK_PROMO=" +
                                   (manifest.parent_path() / "absent.json").string()};
                       },
                       "Файла акции нет"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace orvek
