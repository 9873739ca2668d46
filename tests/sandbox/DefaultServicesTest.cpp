// The application's own operations on the simulated Mac: install then connect on one engine,
// and opening exactly the OpenCode that engine verified.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConfigurationOverrides.h"
#include "ScopedEnvironment.h"
#include "SimulatedMac.h"
#include "TempHome.h"
#include "installer/InstallerCore.h"
#include "setup/DefaultServices.h"

namespace orvek::setup {
namespace {

namespace fs = std::filesystem;

class RecordingWorkspace final : public Workspace {
public:
    void openApplication(const fs::path& app) override { applications.push_back(app); }
    void openUrl(const std::string& url) override { urls.push_back(url); }
    std::vector<fs::path> applications;
    std::vector<std::string> urls;
};

class DefaultServices : public ::testing::Test {
protected:
    DefaultServices()
        : mac(temp / "home", temp / "machine",
              {fs::path(ORVEK_SANDBOX_STAND_INS), ORVEK_SANDBOX_HELPER, ORVEK_RESOURCES_DIR}) {
        // The helper, a child of the engine, finds the user's settings through these.
        environment.set("HOME", mac.home().string());
        test::clearConfigurationOverrides(environment);
    }

    SetupServices services() {
        core = std::make_shared<installer::InstallerCore>(mac.resources(), mac.home(), std::nullopt,
                                                          mac.deployment());
        return defaultServices(core, workspace);
    }

    /// Runs `main`; returns the progress texts and the failure's description, if any, last.
    static std::vector<std::string> runMain(const SetupServices& record) {
        std::vector<std::string> texts;
        try {
            record.main([&texts](const std::string& text) { texts.push_back(text); });
        } catch (const std::exception& error) {
            texts.emplace_back(error.what());
        }
        return texts;
    }

    [[nodiscard]] bool helperRan() const { return fs::exists(mac.home() / ".orvek-sandbox/calls"); }

    test::TempHome temp;
    test::ScopedEnvironment environment;
    sandbox::SimulatedMac mac;
    RecordingWorkspace workspace;
    std::shared_ptr<installer::InstallerCore> core;
};

TEST_F(DefaultServices, OpensTheCopyTheWizardInstalledAndNothingBefore) {
    const auto record = services();
    record.open();
    EXPECT_TRUE(workspace.applications.empty());

    const auto texts = runMain(record);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Проверяем подключение…");
    record.open();
    EXPECT_EQ(workspace.applications,
              std::vector<fs::path>{mac.home() / "Applications/OpenCode.app"});
}

TEST_F(DefaultServices, OpensTheCopyItFoundOnTheMac) {
    mac.installOpenCode(mac.systemApplications());
    const auto record = services();
    const auto texts = runMain(record);
    ASSERT_EQ(texts.back(), "Проверяем подключение…");
    record.open();
    EXPECT_EQ(workspace.applications,
              std::vector<fs::path>{mac.systemApplications() / "OpenCode.app"});
    EXPECT_FALSE(fs::exists(mac.home() / "Applications/OpenCode.app"));
}

TEST_F(DefaultServices, AFailedInstallNeverAsksTheHelper) {
    mac.installOpenCode(mac.home() / "Applications", "2.1.3");
    const auto record = services();
    const auto texts = runMain(record);
    EXPECT_EQ(texts.back(), "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.");
    EXPECT_FALSE(helperRan());
    record.open();
    EXPECT_TRUE(workspace.applications.empty());
}

// Both profile operations prepare on the record's engine: the default folder, or a fresh one
// inside the parent the user chose.
TEST_F(DefaultServices, PreparesProfilesInTheDefaultOrTheChosenFolder) {
    const auto record = services();
    ASSERT_TRUE(record.profile && record.alternateProfile);
    EXPECT_EQ(record.profile("manager"), mac.home() / "Documents/Orvek Workspaces/manager");
    EXPECT_TRUE(fs::exists(mac.home() / "Documents/Orvek Workspaces/manager/AGENTS.md"));

    fs::create_directories(mac.home() / "Work");
    const auto chosen = record.alternateProfile("manager", mac.home() / "Work");
    EXPECT_EQ(chosen.parent_path(), mac.home() / "Work");
    EXPECT_TRUE(fs::exists(chosen / ".orvek-profile.json"));
}

} // namespace
} // namespace orvek::setup
