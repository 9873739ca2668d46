#include "app/AppDelegate.h"

#include <functional>
#include <optional>
#include <vector>

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/MainWindow.h"
#include "app/SetupView.h"
#include "app/SkillsSheet.h"
#include "app/SkillsSheetPresenter.h"
#include "app/SkillsView.h"

namespace orvek::app {
namespace {

class AppDelegateTest : public ::testing::Test, protected test::AppModelFixture {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    std::unique_ptr<AppDelegate> launch(const QStringList& arguments) {
        AppDelegate::Hooks hooks;
        hooks.finish = [this](int status, const QString& message) {
            finished = status;
            finishMessage = message;
        };
        hooks.showBusyAlert = [this](QWidget*) { ++alerts; };
        hooks.later = [this](int delayMs, std::function<void()> task) {
            scheduled.push_back(delayMs);
            QTimer::singleShot(delayMs, qApp, std::move(task));
        };
        auto delegate =
            std::make_unique<AppDelegate>(model, LaunchOptions::parse(arguments), std::move(hooks));
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    QString file(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }

    QTemporaryDir folder;
    std::optional<int> finished;
    QString finishMessage;
    int alerts = 0;
    // The delays of the work the delegate left for later, in the order it asked.
    std::vector<int> scheduled;
};

TEST_F(AppDelegateTest, OpensOneTitledWindowAndASecondLaunchChangesNothing) {
    const auto delegate = launch({});
    MainWindow* window = delegate->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Орвек · OpenCode для Mac");
    EXPECT_EQ(window->minimumSize(), QSize(440, 420));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(247, 248, 243));
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(delegate->window(), window);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, FitsTheWindowToTheScreen) {
    const auto delegate = launch({});
    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize expected(std::min(std::max(visible.width() - 48, 440), 820),
                         std::max(std::min(std::max(visible.height() - 80, 400), 650), 420));
    EXPECT_EQ(delegate->window()->size(), expected);
}

TEST_F(AppDelegateTest, RefusesToCloseWhileWorkRuns) {
    struct Row {
        const char* name;
        bool busy;
        bool skillsBusy;
        bool closes;
    };
    for (const auto& row :
         {Row{"setup running", true, false, false}, Row{"skills running", false, true, false},
          Row{"idle", false, false, true}}) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fixture;
        model = fixture.model;
        alerts = 0;
        const auto delegate = launch({});
        model->setBusy(row.busy);
        model->setSkillsBusy(row.skillsBusy);
        EXPECT_EQ(delegate->window()->close(), row.closes);
        EXPECT_EQ(delegate->window()->isVisible(), !row.closes);
        EXPECT_EQ(alerts, row.closes ? 0 : 1);
    }
}

TEST_F(AppDelegateTest, RendersAWindowScreenAfterItHasLaidOut) {
    const auto delegate = launch({"--render", "ready", file("ready.png"), "--width", "700"});
    ASSERT_NE(delegate->window(), nullptr);
    EXPECT_TRUE(model->ready());
    EXPECT_FALSE(finished) << "the render waits for the layout";
    EXPECT_EQ(scheduled, std::vector<int>{AppDelegate::kRenderDelayMs});
    QTRY_VERIFY_WITH_TIMEOUT(finished.has_value(), 5000);
    EXPECT_EQ(*finished, 0) << finishMessage.toStdString();
    EXPECT_EQ(QImage(file("ready.png")).size(), QSize(700, 650));
}

TEST_F(AppDelegateTest, RendersASkillsScreenInTheWindowInsteadOfTheSetupScreen) {
    const auto delegate = launch({"--render", "skills-busy", file("skills.png"), "--width", "700"});
    ASSERT_NE(delegate->window(), nullptr);
    ASSERT_NE(delegate->window()->skillsScreen(), nullptr);
    EXPECT_TRUE(delegate->window()->skillsScreen()->isVisible());
    EXPECT_FALSE(delegate->window()->setupView().isVisible());
    EXPECT_TRUE(model->skillsBusy());
    QTRY_VERIFY_WITH_TIMEOUT(finished.has_value(), 5000);
    EXPECT_EQ(*finished, 0) << finishMessage.toStdString();
    EXPECT_EQ(QImage(file("skills.png")).size(), QSize(700, 620));
}

TEST_F(AppDelegateTest, OffersTheSkillsInASheetOverTheWindow) {
    const auto delegate = launch({});
    ASSERT_NE(delegate->skillsPresenter(), nullptr);
    EXPECT_EQ(delegate->window()->skillsScreen(), nullptr) << "the window keeps the setup screen";
    model->setReady(true);
    model->offerSkills();
    QTRY_VERIFY(delegate->skillsPresenter()->sheet() != nullptr);
    EXPECT_EQ(delegate->skillsPresenter()->sheet()->parentWidget(), delegate->window());
}

TEST_F(AppDelegateTest, GivesTheModelAFolderPanelOfItsOwn) {
    const auto delegate = launch({});
    model->setReady(true);
    model->setCanChooseAlternateFolder(true);
    QString title;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            dialog->reject();
        }
    });
    model->chooseAlternateFolder();
    EXPECT_EQ(title, "Другая рабочая папка");
    EXPECT_FALSE(model->skillsBusy()) << "cancelled: nothing retried";
}

TEST_F(AppDelegateTest, TheDetailsButtonOpensTheMcpInformation) {
    const auto delegate = launch({});
    auto* details = delegate->window()->findChild<QPushButton*>("detailsButton");
    ASSERT_NE(details, nullptr);
    QString title;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->text();
            // "Закрыть": nothing is checked and the alert goes.
            box->buttons().front()->click();
        }
    });
    details->click();
    EXPECT_EQ(title, "Орвек · OpenCode 0.6.0 — закрытый пилот");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AppDelegateTest, RendersAnAlertScreenWithoutAWindow) {
    const auto delegate = launch({"--render", "close-busy", file("alert.png")});
    EXPECT_EQ(delegate->window(), nullptr);
    ASSERT_EQ(finished, 0) << finishMessage.toStdString();
    EXPECT_FALSE(QImage(file("alert.png")).isNull());
}

TEST_F(AppDelegateTest, EndsWithAMessageWhenTheScreenCannotBeDrawnOrWritten) {
    struct Row {
        const char* name;
        QStringList arguments;
        int status;
    };
    const Row rows[] = {
        {"alert into a missing folder", {"--render", "close-busy", file("no/a.png")}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        finished.reset();
        const auto delegate = launch(row.arguments);
        EXPECT_EQ(delegate->window(), nullptr);
        EXPECT_EQ(finished, row.status);
        EXPECT_FALSE(finishMessage.isEmpty());
    }
}

TEST_F(AppDelegateTest, RenderWithoutAFileOpensTheWindowUnfitted) {
    const auto delegate = launch({"--render", "ready"});
    ASSERT_NE(delegate->window(), nullptr);
    EXPECT_TRUE(delegate->window()->isVisible());
    EXPECT_EQ(delegate->window()->size(), QSize(820, 650));
    EXPECT_FALSE(model->ready()) << "no fixture state without both arguments";
    // A render would be left for later; nothing is, and nothing has ended the process.
    EXPECT_TRUE(scheduled.empty());
    EXPECT_FALSE(finished);
}

} // namespace
} // namespace orvek::app
