#include "app/SkillsView.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "ManualExecutor.h"
#include "base/InstallerFailure.h"
#include "setup/SetupModel.h"

namespace orvek::app {
namespace {

namespace fs = std::filesystem;
using setup::SetupModel;

const char* const kHint =
    "Повторите установку или продолжите без оставшихся навыков. Уже добавленные файлы сохранены.";

// Answers with a fixed folder and remembers what it was asked.
class AnsweringPanel final : public setup::FolderPanel {
public:
    std::optional<fs::path> chooseFolder(const setup::FolderPanelRequest& request) override {
        requests.push_back(request);
        return answer;
    }
    std::optional<fs::path> answer;
    std::vector<setup::FolderPanelRequest> requests;
};

// A ready model whose skills run the test drives by hand. A role named in `occupied` finds its
// workspace folder taken; every prepared role is logged, with the parent for another folder.
class SkillsViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup::SetupServices services;
        services.main = [](const setup::SetupServices::Progress&) {};
        services.profile = [this](const std::string& role) {
            if (role == occupied)
                throw base::InstallerFailure("Рабочая папка занята.", "WORKSPACE_CONFLICT");
            prepared.push_back(role);
            return fs::path("/ws") / role;
        };
        services.alternateProfile = [this](const std::string& role, const fs::path& parent) {
            prepared.push_back(role + "@" + parent.string());
            return parent / role;
        };
        model = SetupModel::create(services, mainExecutor, worker);
        model->setConsent(true);
        model->start();
        run();
        ASSERT_TRUE(model->ready());
        ASSERT_TRUE(model->showSkills());
        view = std::make_unique<SkillsView>(model);
        view->resize(600, 620);
        view->show();
    }

    void run() {
        worker.runAll();
        mainExecutor.runAll();
    }

    template <typename T> T* child(const QString& name) const {
        auto* found = view->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QCheckBox* box(const char* role) const {
        return child<QCheckBox>(QStringLiteral("roleCheck_") + QString::fromLatin1(role));
    }
    QPushButton* button(const char* name) const {
        return child<QPushButton>(QString::fromLatin1(name));
    }
    QLabel* label(const char* name) const { return child<QLabel>(QString::fromLatin1(name)); }

    test::ManualExecutor mainExecutor;
    test::ManualExecutor worker;
    std::string occupied;
    std::vector<std::string> prepared;
    std::shared_ptr<SetupModel> model;
    std::unique_ptr<SkillsView> view;
};

TEST_F(SkillsViewTest, SaysWhatTheStepIsAndOffersEveryRole) {
    EXPECT_EQ(view->minimumSize(), QSize(440, 400));
    EXPECT_EQ(label("eyebrowLabel")->text(), "НЕОБЯЗАТЕЛЬНЫЙ ШАГ");
    EXPECT_EQ(label("titleLabel")->text(), "Что пригодится в работе?");
    EXPECT_EQ(label("titleLabel")->font().pixelSize(), 27);
    EXPECT_DOUBLE_EQ(label("titleLabel")->font().letterSpacing(), -0.5);
    EXPECT_EQ(
        label("introLabel")->text(),
        "OpenCode уже готов. Выберите навыки для всех проектов. Ничего не выбрано заранее — этот шаг можно пропустить.");

    const auto boxes = view->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), static_cast<qsizetype>(model->roles().size()));
    for (const auto& role : model->roles()) {
        SCOPED_TRACE(role.id);
        const QString id = QString::fromStdString(role.id);
        auto* roleBox = child<QCheckBox>(QStringLiteral("roleCheck_") + id);
        ASSERT_NE(roleBox, nullptr);
        EXPECT_EQ(roleBox->text().toStdString(), role.title);
        EXPECT_FALSE(roleBox->isChecked()) << "nothing is chosen in advance";
        auto* summary = child<QLabel>(QStringLiteral("roleSummary_") + id);
        ASSERT_NE(summary, nullptr);
        EXPECT_EQ(summary->text().toStdString(), role.summary);
        EXPECT_TRUE(summary->isVisible());
    }
    // Boxes in the order of the roles, top to bottom.
    for (std::size_t i = 1; i < model->roles().size(); ++i)
        EXPECT_LT(box(model->roles()[i - 1].id.c_str())->mapTo(view.get(), QPoint()).y(),
                  box(model->roles()[i].id.c_str())->mapTo(view.get(), QPoint()).y());
}

struct StateRow {
    const char* name;
    std::function<void(SetupModel&)> set;
    const char* install;
    const char* skip;
    bool idle; // buttons and boxes enabled
    bool progress;
    bool hint;
    bool alternate;
    QColor status;
};

TEST(SkillsView, ShowsWhatEachStateSaysAndAllows) {
    const QColor muted(0x55, 0x5D, 0x50);
    const QColor error(0xA5, 0x2D, 0x28);
    const StateRow rows[] = {
        {"idle", [](SetupModel&) {}, "Установить выбранные", "Пропустить", true, false, false,
         false, muted},
        {"busy",
         [](SetupModel& m) {
             m.setSkillsBusy(true);
             m.setSkillsStatus("Добавляем выбранные навыки…");
         },
         "Добавляем навыки…", "Пропустить", false, true, false, false, muted},
        {"failed",
         [](SetupModel& m) {
             m.setSkillsFailed(true);
             m.setSkillsStatus("Существующий навык изменён.");
         },
         "Повторить навыки", "Продолжить", true, false, true, false, error},
        {"failed with another folder to choose",
         [](SetupModel& m) {
             m.setSkillsFailed(true);
             m.setCanChooseAlternateFolder(true);
             m.setSkillsStatus("Рабочая папка занята.");
         },
         "Повторить навыки", "Продолжить", true, false, true, true, error},
        {"another folder offered without a failure",
         [](SetupModel& m) { m.setCanChooseAlternateFolder(true); }, "Установить выбранные",
         "Пропустить", true, false, false, false, muted},
        {"succeeded",
         [](SetupModel& m) {
             m.setSkillsSucceeded(true);
             m.setSkillsStatus("Выбранные навыки готовы.");
         },
         "Установить выбранные", "Пропустить", true, false, false, false, muted},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::ManualExecutor mainExecutor;
        test::ManualExecutor worker;
        const auto model = SetupModel::create(setup::SetupServices{}, mainExecutor, worker);
        model->setReady(true);
        model->setSkillsStatus("Ничего не выбрано.");
        SkillsView view(model);
        view.resize(600, 620);
        view.show();
        // Each state is reached from another, as the model moves: the screen follows.
        row.set(*model);
        const auto find = [&](const char* name) {
            auto* widget = view.findChild<QWidget*>(QString::fromLatin1(name));
            EXPECT_NE(widget, nullptr) << name;
            return widget;
        };
        const auto* install = qobject_cast<QPushButton*>(find("installButton"));
        const auto* skip = qobject_cast<QPushButton*>(find("skipButton"));
        const auto* status = qobject_cast<QLabel*>(find("skillsStatusLabel"));
        EXPECT_EQ(install->text(), QString::fromUtf8(row.install));
        EXPECT_EQ(skip->text(), QString::fromUtf8(row.skip));
        EXPECT_EQ(install->isEnabled(), row.idle);
        EXPECT_EQ(skip->isEnabled(), row.idle);
        for (const auto* roleBox : view.findChildren<QCheckBox*>())
            EXPECT_EQ(roleBox->isEnabled(), row.idle) << roleBox->objectName().toStdString();
        EXPECT_EQ(find("skillsProgress")->isVisible(), row.progress);
        EXPECT_EQ(find("failureHintLabel")->isVisible(), row.hint);
        EXPECT_EQ(qobject_cast<QLabel*>(find("failureHintLabel"))->text(), kHint);
        EXPECT_EQ(find("alternateFolderButton")->isVisible(), row.alternate);
        EXPECT_EQ(qobject_cast<QPushButton*>(find("alternateFolderButton"))->text(),
                  "Выбрать другую рабочую папку…");
        EXPECT_EQ(status->text().toStdString(), model->skillsStatus());
        EXPECT_EQ(status->palette().color(QPalette::WindowText), row.status);
    }
}

TEST_F(SkillsViewTest, TheBoxesAndTheSelectionFollowEachOther) {
    QTest::mouseClick(box("designer"), Qt::LeftButton);
    EXPECT_EQ(model->selection(), (std::set<std::string>{"designer"}));
    QTest::mouseClick(box("developer"), Qt::LeftButton);
    EXPECT_EQ(model->selection(), (std::set<std::string>{"designer", "developer"}));
    // The caption beside a box ticks it as well.
    QTest::mouseClick(label("roleSummary_video"), Qt::LeftButton);
    EXPECT_EQ(model->selection(), (std::set<std::string>{"designer", "developer", "video"}));
    QTest::mouseClick(box("designer"), Qt::LeftButton);
    EXPECT_EQ(model->selection(), (std::set<std::string>{"developer", "video"}));

    // The other way: the model's selection ticks exactly its boxes; unknown ids tick nothing.
    model->setSelection({"analyst", "manager", "nobody"});
    for (const auto& role : model->roles()) {
        SCOPED_TRACE(role.id);
        EXPECT_EQ(box(role.id.c_str())->isChecked(), role.id == "analyst" || role.id == "manager");
    }
    QTest::mouseClick(box("analyst"), Qt::LeftButton);
    EXPECT_EQ(model->selection(), (std::set<std::string>{"manager", "nobody"}));

    // While the skills install nothing can be ticked, not even through a caption.
    model->setSkillsBusy(true);
    for (auto* target :
         {static_cast<QWidget*>(box("video")), static_cast<QWidget*>(label("roleSummary_video"))}) {
        SCOPED_TRACE(target->objectName().toStdString());
        QTest::mouseClick(target, Qt::LeftButton);
        EXPECT_EQ(model->selection(), (std::set<std::string>{"manager", "nobody"}));
    }
}

TEST_F(SkillsViewTest, InstallsTheTickedRolesAndEndsTheStep) {
    QTest::mouseClick(box("video"), Qt::LeftButton);
    QTest::mouseClick(box("developer"), Qt::LeftButton);
    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    EXPECT_TRUE(model->skillsBusy());
    EXPECT_EQ(label("skillsStatusLabel")->text(), "Добавляем выбранные навыки…");
    EXPECT_EQ(button("installButton")->text(), "Добавляем навыки…");
    // A second click while it runs is not possible.
    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    EXPECT_EQ(worker.pending(), 1u);
    run();
    EXPECT_EQ(prepared, (std::vector<std::string>{"developer", "video"}));
    EXPECT_FALSE(model->showSkills());
    EXPECT_EQ(label("skillsStatusLabel")->text().toStdString(), SetupModel::kSkillsReadyText);
}

TEST_F(SkillsViewTest, AfterAnOccupiedFolderOffersAnotherAndRetriesThere) {
    const auto panel = std::make_shared<AnsweringPanel>();
    panel->answer = fs::path("/Users/anna/Проекты");
    model->setFolderPanel(panel);
    occupied = "developer";
    QTest::mouseClick(box("developer"), Qt::LeftButton);
    QTest::mouseClick(box("analyst"), Qt::LeftButton);
    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    run();
    ASSERT_TRUE(model->skillsFailed());
    EXPECT_EQ(label("skillsStatusLabel")->text(),
              "Рабочая папка занята. OpenCode уже готов. Повторите только навыки.");
    EXPECT_EQ(label("skillsStatusLabel")->palette().color(QPalette::WindowText),
              QColor(0xA5, 0x2D, 0x28));
    EXPECT_EQ(button("installButton")->text(), "Повторить навыки");
    EXPECT_EQ(button("skipButton")->text(), "Продолжить");
    ASSERT_TRUE(button("alternateFolderButton")->isVisible());

    QTest::mouseClick(button("alternateFolderButton"), Qt::LeftButton);
    ASSERT_EQ(panel->requests.size(), 1u);
    EXPECT_EQ(panel->requests[0].title, SetupModel::kAlternateFolderTitle);
    EXPECT_EQ(panel->requests[0].message, SetupModel::kAlternateFolderMessage);
    EXPECT_EQ(panel->requests[0].confirm, SetupModel::kAlternateFolderConfirm);
    EXPECT_TRUE(model->skillsBusy());
    run();
    EXPECT_EQ(prepared, (std::vector<std::string>{"developer@/Users/anna/Проекты",
                                                  "analyst@/Users/anna/Проекты"}));
    EXPECT_FALSE(model->showSkills());
}

TEST_F(SkillsViewTest, SkipAndContinueEndTheStepWithoutInstalling) {
    QTest::mouseClick(box("designer"), Qt::LeftButton);
    QTest::mouseClick(button("skipButton"), Qt::LeftButton);
    EXPECT_FALSE(model->showSkills());

    model->offerSkills();
    model->setSkillsFailed(true);
    ASSERT_EQ(button("skipButton")->text(), "Продолжить");
    QTest::mouseClick(button("skipButton"), Qt::LeftButton);
    EXPECT_FALSE(model->showSkills());
    EXPECT_TRUE(prepared.empty());
    EXPECT_EQ(worker.pending(), 0u);
}

TEST_F(SkillsViewTest, ReturnInstallsUnlessBusy) {
    // Keyboard shortcuts reach only the active window.
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::mouseClick(box("manager"), Qt::LeftButton);
    box("manager")->setFocus();
    QTest::keyClick(box("manager"), Qt::Key_Return);
    EXPECT_TRUE(model->skillsBusy());
    EXPECT_EQ(worker.pending(), 1u);
    QTest::keyClick(box("manager"), Qt::Key_Enter);
    EXPECT_EQ(worker.pending(), 1u);
}

TEST_F(SkillsViewTest, ScrollsToItsButtonsWhenTheRoomIsShort) {
    model->setSkillsFailed(true);
    model->setCanChooseAlternateFolder(true);
    model->setSkillsStatus(
        "Рабочая папка занята. Файлы сохранены. Выберите другую папку или продолжите без оставшихся навыков.");
    view->resize(440, 400);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0) << "the content wraps to the width";
    auto* install = button("installButton");
    view->ensureWidgetVisible(install);
    const QRect shown(install->mapTo(view->viewport(), QPoint()), install->size());
    EXPECT_TRUE(view->viewport()->rect().contains(shown));
}

} // namespace
} // namespace orvek::app
