#include "installer/InstallerCore.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "base/Hashing.h"

namespace orvek::installer {
namespace {

// XDG_CONFIG_HOME for one test (cleared for a null value), the old value put back afterwards.
class ScopedXdg {
public:
    explicit ScopedXdg(const char* value) {
        if (value != nullptr)
            m_environment.set("XDG_CONFIG_HOME", value);
        else
            m_environment.unset("XDG_CONFIG_HOME");
    }

private:
    test::ScopedEnvironment m_environment;
};

TEST(InstallerCore, DerivesItsFoldersFromHomeAndConfigHome) {
    const ScopedXdg xdg(nullptr);
    InstallerCore core("/Applications/Orvek.app/Contents/Resources", "/Users/anna");
    EXPECT_EQ(core.configHome(), "/Users/anna/.config");
    EXPECT_EQ(core.globalConfig(), "/Users/anna/.config/opencode");
    EXPECT_EQ(core.root(), "/Users/anna/Library/Application Support/Orvek/OpenCodeSetup/0.1.0");
    EXPECT_EQ(core.helper(),
              "/Users/anna/Library/Application Support/Orvek/OpenCodeSetup/0.1.0/helper/orvek");
    EXPECT_EQ(core.desktopData(), "/Users/anna/Library/Application Support/ai.opencode.desktop");
    EXPECT_FALSE(core.installedApp().has_value());
}

TEST(InstallerCore, StandardizesResourcesAndHome) {
    InstallerCore core("/Applications/./Orvek.app/Contents/MacOS/../Resources/",
                       "/Users/x/../anna/", std::nullopt);
    EXPECT_EQ(core.resources(), "/Applications/Orvek.app/Contents/Resources");
    EXPECT_EQ(core.home(), "/Users/anna");
}

TEST(InstallerCore, ChoosesTheConfigurationHome) {
    struct Row {
        const char* name;
        const char* xdg;
        std::optional<std::string> argument;
        const char* expected;
    };
    const Row rows[] = {
        {"argument wins, unchanged", "/xdg", "relative/config", "relative/config"},
        {"absolute XDG_CONFIG_HOME", "/Volumes/Data/config", std::nullopt, "/Volumes/Data/config"},
        {"relative XDG_CONFIG_HOME is ignored", "config", std::nullopt, "/Users/anna/.config"},
        {"empty XDG_CONFIG_HOME is ignored", "", std::nullopt, "/Users/anna/.config"},
        {"no XDG_CONFIG_HOME", nullptr, std::nullopt, "/Users/anna/.config"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ScopedXdg xdg(row.xdg);
        const std::optional<std::filesystem::path> argument =
            row.argument ? std::optional<std::filesystem::path>(*row.argument) : std::nullopt;
        InstallerCore core("/r", "/Users/anna", argument);
        EXPECT_EQ(core.configHome(), row.expected);
    }
}

TEST(InstallerCore, DefaultHomeIsTheUsersHome) {
    InstallerCore core("/r");
    EXPECT_EQ(core.home(), base::FileManager::defaultManager()->homeDirectoryForCurrentUser());
    EXPECT_TRUE(core.home().is_absolute());
}

TEST(InstallerCore, FixedListsAndValues) {
    using Views = std::vector<std::string_view>;
    EXPECT_EQ(Views(InstallerCore::profileIDs.begin(), InstallerCore::profileIDs.end()),
              (Views{"developer", "analyst", "designer", "manager", "video"}));
    EXPECT_EQ(Views(InstallerCore::orvekModels.begin(), InstallerCore::orvekModels.end()),
              (Views{"claude-opus-5", "gpt-5.6-sol", "claude-sonnet-5", "claude-opus-5.5",
                     "claude-sonnet-5.5", "gpt-6-astra", "gpt-6.1-sol"}));
    EXPECT_EQ(InstallerCore::defaultOrvekModel, InstallerCore::orvekModels.front());
    EXPECT_EQ(Views(InstallerCore::freeModels.begin(), InstallerCore::freeModels.end()),
              (Views{"big-pickle", "beam-free", "flint-40b-free", "mimo-v2.6-flash-free",
                     "nemotron-3.5-super-vl-free", "nemotron-3.5-lightning-free",
                     "deepseek-v4.1-flash-free", "glm-5.3-flash-free"}));
    EXPECT_EQ(InstallerCore::architecture, "arm64");
    // The pin is matched as text against the manifest, and a download takes a hash only as 64
    // lower-case hex digits: a pin in any other form would refuse every install.
    EXPECT_TRUE(base::isSha256Text(Deployment::production().helperArchiveHash));
    EXPECT_EQ(Deployment::production().hdiutil, "/usr/bin/hdiutil");
    EXPECT_EQ(Deployment::production().apiBase, "https://api.orvek.ru");
}

// Tests shorten these limits; the shipped engine must keep the real ones, and an engine built
// without a deployment must get them too.
TEST(InstallerCore, ShipsTheRealTimeLimits) {
    const InstallerCore core("/r", "/Users/anna");
    for (const Deployment* deployment : {&Deployment::production(), &core.deployment()}) {
        EXPECT_EQ(deployment->helperStatusSeconds, 180);
        EXPECT_EQ(deployment->helperSetupSeconds, 900);
        EXPECT_EQ(deployment->toolSeconds, 180);
    }
}

} // namespace
} // namespace orvek::installer
