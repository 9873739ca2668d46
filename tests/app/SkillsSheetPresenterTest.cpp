#include "app/SkillsSheetPresenter.h"

#include <algorithm>

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/SkillsSheet.h"
#include "app/SkillsView.h"

namespace orvek::app {
namespace {

// Runs the queued changes and the deferred deletions they caused.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Every skills sheet that exists, wherever it is parented.
qsizetype sheetCount() {
    qsizetype count = 0;
    for (auto* widget : QApplication::allWidgets())
        count += qobject_cast<SkillsSheet*>(widget) != nullptr ? 1 : 0;
    return count;
}

class SkillsSheetPresenterTest : public ::testing::Test, protected test::AppModelFixture {
protected:
    void SetUp() override {
        parent = std::make_unique<QWidget>();
        parent->resize(820, 650);
        parent->show();
        presenter = std::make_unique<SkillsSheetPresenter>(parent.get(), model);
    }
    void TearDown() override {
        presenter.reset();
        parent.reset();
        settle();
        EXPECT_EQ(sheetCount(), 0) << "a sheet outlived its presenter";
    }

    // Ready and offering the skills step, as after a successful run.
    void offer() {
        model->setReady(true);
        model->setShowSkills(true);
        settle();
    }

    std::unique_ptr<QWidget> parent;
    std::unique_ptr<SkillsSheetPresenter> presenter;
};

TEST_F(SkillsSheetPresenterTest, OpensOneSheetOnlyWhenReadyAndIdle) {
    struct Row {
        const char* name;
        bool ready;
        bool busy;
        bool opens;
    };
    for (const auto& row :
         {Row{"ready and idle", true, false, true}, Row{"not ready", false, false, false},
          Row{"ready but busy", true, true, false}}) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fresh;
        SkillsSheetPresenter own(parent.get(), fresh.model);
        fresh.model->setReady(row.ready);
        fresh.model->setBusy(row.busy);
        fresh.model->setShowSkills(true);
        EXPECT_EQ(own.sheet(), nullptr) << "handled on the event loop, not inside the model";
        settle();
        EXPECT_EQ(own.sheet() != nullptr, row.opens);
        EXPECT_EQ(sheetCount(), row.opens ? 1 : 0);
        if (row.opens) {
            EXPECT_TRUE(own.sheet()->isVisible());
        }
    }
}

TEST_F(SkillsSheetPresenterTest, AShownSheetIsNeverDoubled) {
    offer();
    SkillsSheet* first = presenter->sheet();
    ASSERT_NE(first, nullptr);
    // Withdrawn and offered again before either change was handled: the sheet stays as it is.
    model->setShowSkills(false);
    model->setShowSkills(true);
    settle();
    EXPECT_EQ(presenter->sheet(), first);
    EXPECT_EQ(sheetCount(), 1);
    // Offered again after the step closed: a fresh sheet, still only one.
    model->setShowSkills(false);
    settle();
    model->offerSkills();
    settle();
    EXPECT_NE(presenter->sheet(), nullptr);
    EXPECT_EQ(sheetCount(), 1);
}

TEST_F(SkillsSheetPresenterTest, TheSheetIsAModalSizedWindowOverTheParent) {
    offer();
    SkillsSheet* sheet = presenter->sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), "Навыки для OpenCode");
    EXPECT_EQ(sheet->parentWidget(), parent.get());
    EXPECT_TRUE(sheet->isWindow());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->windowType(), Qt::Sheet);
    EXPECT_TRUE(sheet->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(sheet->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(sheet->minimumSize(), QSize(440, 420));
    EXPECT_LT(sheet->minimumSize().width(), sheet->maximumSize().width()) << "resizable";
    EXPECT_EQ(sheet->palette().color(QPalette::Window), QColor(0xF7, 0xF8, 0xF3));
    const QRect visible = parent->screen()->availableGeometry();
    const QSize expected(std::min(std::max(visible.width() - 48, 440), 600),
                         std::max(std::min(std::max(visible.height() - 80, 400), 590), 420));
    EXPECT_EQ(sheet->size(), expected);
    auto* view = sheet->findChild<SkillsView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(&sheet->view(), view);
    EXPECT_TRUE(view->isVisible());
}

TEST_F(SkillsSheetPresenterTest, HidesTheSheetWhenTheStepEnds) {
    offer();
    QPointer<SkillsSheet> sheet = presenter->sheet();
    ASSERT_TRUE(sheet);
    // The skip button ends the step in the model; the sheet goes on the next turn.
    QTest::mouseClick(sheet->findChild<QPushButton*>("skipButton"), Qt::LeftButton);
    EXPECT_FALSE(model->showSkills());
    EXPECT_TRUE(sheet) << "not deleted under its own button";
    settle();
    EXPECT_FALSE(sheet);
    EXPECT_EQ(presenter->sheet(), nullptr);
    EXPECT_TRUE(parent->isVisible());
}

TEST_F(SkillsSheetPresenterTest, TheCloseButtonAsksTheModelAndNeverClosesDirectly) {
    struct Row {
        const char* name;
        bool skillsBusy;
    };
    for (const auto& row : {Row{"idle", false}, Row{"installing", true}}) {
        SCOPED_TRACE(row.name);
        model->setSkillsBusy(false);
        offer();
        QPointer<SkillsSheet> sheet = presenter->sheet();
        ASSERT_TRUE(sheet);
        model->setSkillsBusy(row.skillsBusy);
        EXPECT_FALSE(sheet->close());
        EXPECT_TRUE(sheet->isVisible()) << "still up until the model has answered";
        EXPECT_EQ(model->showSkills(), row.skillsBusy);
        settle();
        EXPECT_EQ(static_cast<bool>(sheet), row.skillsBusy);
        // Escape is the same request.
        if (sheet) {
            sheet->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.data()));
            QTest::keyClick(sheet.data(), Qt::Key_Escape);
            EXPECT_TRUE(model->showSkills());
            model->setSkillsBusy(false);
            QTest::keyClick(sheet.data(), Qt::Key_Escape);
            EXPECT_FALSE(model->showSkills());
            settle();
            EXPECT_FALSE(sheet);
        }
    }
}

TEST_F(SkillsSheetPresenterTest, AChangeArrivingAfterThePresenterOrItsWindowIsHarmless) {
    struct Row {
        const char* name;
        bool destroyPresenter;
        bool destroyParent;
    };
    for (const auto& row : {Row{"presenter gone", true, false}, Row{"window gone", false, true},
                            Row{"both gone", true, true}}) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fresh;
        auto window = std::make_unique<QWidget>();
        window->show();
        auto own = std::make_unique<SkillsSheetPresenter>(window.get(), fresh.model);
        fresh.model->setReady(true);
        fresh.model->setShowSkills(true);
        if (row.destroyParent)
            window.reset();
        if (row.destroyPresenter)
            own.reset();
        settle();
        EXPECT_EQ(sheetCount(), 0);
        if (own) {
            EXPECT_EQ(own->sheet(), nullptr);
        }
        // Later changes reach nobody either.
        fresh.model->setShowSkills(false);
        fresh.model->setShowSkills(true);
        settle();
        EXPECT_EQ(sheetCount(), 0);
    }
}

TEST_F(SkillsSheetPresenterTest, TheWindowTakesItsSheetWhenItGoes) {
    offer();
    ASSERT_NE(presenter->sheet(), nullptr);
    parent.reset();
    EXPECT_EQ(presenter->sheet(), nullptr);
    EXPECT_EQ(sheetCount(), 0);
    model->setShowSkills(false);
    settle();
}

} // namespace
} // namespace orvek::app
