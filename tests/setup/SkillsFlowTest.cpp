#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ManualExecutor.h"
#include "base/InstallerFailure.h"
#include "setup/SetupModel.h"

namespace orvek::setup {
namespace {

namespace fs = std::filesystem;
using test::ManualExecutor;

constexpr const char* kNothingSelected =
    "Ничего не выбрано. Можно пропустить и добавить навыки позже.";
constexpr const char* kAdding = "Добавляем выбранные навыки…";
constexpr const char* kReady =
    "Выбранные навыки готовы. Уже добавленные файлы сохранены. Перезапустите OpenCode.";
constexpr const char* kRetry = " OpenCode уже готов. Повторите только навыки.";
constexpr const char* kOccupied =
    "Рабочая папка занята. Выберите другую папку; существующие файлы сохранены.";

// Answers the folder panel with a fixed folder and remembers what it was asked.
class AnsweringPanel final : public FolderPanel {
public:
    explicit AnsweringPanel(std::optional<fs::path> answer) : m_answer(std::move(answer)) {}
    std::optional<fs::path> chooseFolder(const FolderPanelRequest& request) override {
        requests.push_back(request);
        return m_answer;
    }
    std::vector<FolderPanelRequest> requests;

private:
    std::optional<fs::path> m_answer;
};

class RecordingPromo final : public PromoPresenter {
public:
    void show(const promo::VerifiedPromoOffer& offer) override { shown.push_back(offer.code); }
    std::vector<std::string> shown;
};

class SkillsFlowTest : public ::testing::Test {
protected:
    // Roles in `failing` fail with their failure; the others return "/ws/<role>" (under the
    // parent for the alternate operation). Every call is logged.
    SetupServices services(bool withAlternate = true) {
        SetupServices result;
        result.main = [](const SetupServices::Progress&) {};
        result.profile = [this](const std::string& role) {
            calls.push_back(role);
            if (const auto failure = failing.find(role); failure != failing.end())
                throw failure->second;
            return fs::path("/ws") / role;
        };
        if (withAlternate)
            result.alternateProfile = [this](const std::string& role, const fs::path& parent) {
                calls.push_back(role + "@" + parent.string());
                if (const auto failure = failing.find(role); failure != failing.end())
                    throw failure->second;
                return parent / role;
            };
        return result;
    }

    std::shared_ptr<SetupModel> readyModel(SetupServices withServices) {
        auto model = SetupModel::create(std::move(withServices), mainQueue, worker);
        model->setConsent(true);
        model->start();
        run();
        return model;
    }
    void run() {
        worker.runAll();
        mainQueue.runAll();
    }

    ManualExecutor mainQueue;
    ManualExecutor worker;
    std::vector<std::string> calls;
    std::map<std::string, base::InstallerFailure> failing;
};

TEST_F(SkillsFlowTest, InstallsInTableOrderAndClosesTheSheet) {
    const auto model = readyModel(services());
    ASSERT_TRUE(model->showSkills());
    model->setSelection({"video", "developer", "nobody"});

    model->installSkills();
    EXPECT_TRUE(model->skillsBusy());
    EXPECT_EQ(model->skillsStatus(), kAdding);
    // A second press while it runs starts nothing more.
    model->installSkills();
    EXPECT_EQ(worker.pending(), 1u);
    model->dismissSkills();
    EXPECT_TRUE(model->showSkills());
    run();

    EXPECT_EQ(calls, (std::vector<std::string>{"developer", "video"}));
    EXPECT_FALSE(model->skillsBusy());
    EXPECT_TRUE(model->skillsSucceeded());
    EXPECT_FALSE(model->skillsFailed());
    EXPECT_EQ(model->skillsStatus(), kReady);
    EXPECT_FALSE(model->showSkills());
    EXPECT_EQ(model->folders(), (std::vector<fs::path>{"/ws/developer", "/ws/video"}));

    // The same roles again add no folder twice.
    model->offerSkills();
    model->setSelection({"developer"});
    model->installSkills();
    run();
    EXPECT_EQ(model->folders(), (std::vector<fs::path>{"/ws/developer", "/ws/video"}));
}

TEST_F(SkillsFlowTest, NothingHappensWithoutSelectionOrBeforeTheRunIsReady) {
    const auto model = readyModel(services());
    model->installSkills();
    EXPECT_FALSE(model->skillsBusy());
    EXPECT_EQ(model->skillsStatus(), kNothingSelected);
    model->setSelection({"nobody"});
    model->installSkills();
    EXPECT_FALSE(model->skillsBusy());
    EXPECT_EQ(worker.pending(), 0u);

    const auto idle = SetupModel::create(services(), mainQueue, worker);
    idle->setSelection({"developer"});
    idle->installSkills();
    EXPECT_FALSE(idle->skillsBusy());
    EXPECT_TRUE(calls.empty());
}

TEST_F(SkillsFlowTest, AConflictKeepsTheRemainingRolesAndOffersAnotherFolder) {
    failing.emplace("analyst", base::InstallerFailure(kOccupied, "WORKSPACE_CONFLICT"));
    const auto model = readyModel(services());
    model->setSelection({"developer", "analyst", "manager"});
    model->installSkills();
    run();

    EXPECT_EQ(calls, (std::vector<std::string>{"developer", "analyst"}));
    EXPECT_TRUE(model->showSkills());
    EXPECT_TRUE(model->skillsFailed());
    EXPECT_FALSE(model->skillsSucceeded());
    EXPECT_TRUE(model->canChooseAlternateFolder());
    EXPECT_EQ(model->selection(), (std::set<std::string>{"analyst", "manager"}));
    EXPECT_EQ(model->folders(), std::vector<fs::path>{"/ws/developer"});
    EXPECT_EQ(model->skillsStatus(), std::string(kOccupied) + kRetry);
    EXPECT_EQ(
        model->status(),
        "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.");

    // The user picks another parent: the remaining roles are prepared under it.
    failing.clear();
    const auto panel = std::make_shared<AnsweringPanel>(fs::path("/Users/anna/Проекты"));
    model->setFolderPanel(panel);
    model->chooseAlternateFolder();
    ASSERT_EQ(panel->requests.size(), 1u);
    EXPECT_EQ(panel->requests[0].title, "Другая рабочая папка");
    EXPECT_EQ(panel->requests[0].message,
              "В выбранной папке будет создана новая папка Орвека. Существующие файлы останутся "
              "на месте.");
    EXPECT_EQ(panel->requests[0].confirm, "Создать новую папку");
    EXPECT_EQ(model->alternateParent(), fs::path("/Users/anna/Проекты"));
    run();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"developer", "analyst", "analyst@/Users/anna/Проекты",
                                        "manager@/Users/anna/Проекты"}));
    EXPECT_TRUE(model->skillsSucceeded());
    EXPECT_EQ(model->folders(),
              (std::vector<fs::path>{"/ws/developer", "/Users/anna/Проекты/analyst",
                                     "/Users/anna/Проекты/manager"}));

    // A new offer forgets the chosen parent.
    model->offerSkills();
    EXPECT_FALSE(model->alternateParent().has_value());
}

TEST_F(SkillsFlowTest, OnlyAConflictWithAnAlternateOperationOffersAnotherFolder) {
    struct Row {
        const char* name;
        std::optional<std::string> code;
        bool withAlternate;
        bool offered;
    };
    const std::vector<Row> rows = {
        {"conflict", "WORKSPACE_CONFLICT", true, true},
        {"conflict without the alternate operation", "WORKSPACE_CONFLICT", false, false},
        {"another code", "CONFIGURATION_UNSUPPORTED", true, false},
        {"no code", std::nullopt, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        failing.clear();
        failing.emplace("developer", base::InstallerFailure("Сбой.", row.code));
        const auto model = readyModel(services(row.withAlternate));
        model->setSelection({"developer"});
        model->installSkills();
        run();
        EXPECT_TRUE(model->skillsFailed());
        EXPECT_EQ(model->canChooseAlternateFolder(), row.offered);
        EXPECT_EQ(model->skillsStatus(), std::string("Сбой.") + kRetry);

        // Cancelling the panel, or a panel never given, changes nothing.
        const auto panel = std::make_shared<AnsweringPanel>(std::nullopt);
        model->setFolderPanel(panel);
        model->chooseAlternateFolder();
        EXPECT_EQ(panel->requests.size(), row.offered ? 1u : 0u);
        EXPECT_EQ(worker.pending(), 0u);
        model->retryInAlternateFolder("/elsewhere");
        EXPECT_EQ(model->alternateParent().has_value(), row.offered);
        run();
    }
}

TEST_F(SkillsFlowTest, OtherErrorsAreDescribedLikeTheMainRun) {
    SetupServices broken = services();
    broken.profile = [](const std::string&) -> fs::path { throw std::runtime_error(""); };
    const auto model = readyModel(broken);
    model->setSelection({"designer"});
    model->installSkills();
    run();
    EXPECT_EQ(model->skillsStatus(),
              std::string("Произошла непредвиденная ошибка. Повторите действие.") + kRetry);
    EXPECT_TRUE(model->ready());
    EXPECT_FALSE(model->failed());
}

TEST_F(SkillsFlowTest, ClosingTheSheetPresentsAHeldOfferOnce) {
    const auto promo = std::make_shared<RecordingPromo>();
    const auto model = readyModel(services());
    model->setPromoPresenter(promo);
    model->dismissSkills();
    run();
    EXPECT_TRUE(promo->shown.empty());
    EXPECT_FALSE(model->promoShown());

    model->setVerifiedPromoOffer(promo::VerifiedPromoOffer{"CODE-1", "Условия.", "https://x"});
    model->offerSkills();
    model->setSelection({"manager"});
    model->installSkills();
    // Not while the skills install: the sheet stays and nothing is shown.
    model->dismissSkills();
    mainQueue.runAll();
    EXPECT_TRUE(promo->shown.empty());
    run();
    EXPECT_FALSE(model->showSkills());
    EXPECT_EQ(promo->shown, std::vector<std::string>{"CODE-1"});
    EXPECT_TRUE(model->promoShown());

    model->offerSkills();
    model->dismissSkills();
    run();
    EXPECT_EQ(promo->shown, std::vector<std::string>{"CODE-1"});
}

TEST_F(SkillsFlowTest, NoOfferBeforeTheRunIsReady) {
    const auto promo = std::make_shared<RecordingPromo>();
    const auto model = SetupModel::create(services(), mainQueue, worker);
    model->setPromoPresenter(promo);
    model->setVerifiedPromoOffer(promo::VerifiedPromoOffer{"CODE-1", "Условия.", "https://x"});
    model->dismissSkills();
    run();
    EXPECT_TRUE(promo->shown.empty());
    EXPECT_FALSE(model->promoShown());
}

} // namespace
} // namespace orvek::setup
