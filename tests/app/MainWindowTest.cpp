#include "app/MainWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "ManualExecutor.h"
#include "base/InstallerFailure.h"

namespace orvek::app {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup::SetupServices services;
        services.main = [this](const setup::SetupServices::Progress& progress) {
            progress("Подготавливаем подключение…");
            if (failRun)
                throw base::InstallerFailure("Закройте OpenCode и повторите действие.");
        };
        services.open = [this] { ++opened; };
        model = setup::SetupModel::create(services, mainExecutor, worker);
        window = std::make_unique<MainWindow>(model);
        consent = window->findChild<QCheckBox*>("consentCheck");
        primary = window->findChild<QPushButton*>("primaryButton");
        status = window->findChild<QLabel*>("statusLabel");
        ASSERT_TRUE(consent && primary && status);
    }

    void finishRun() {
        worker.runAll();
        mainExecutor.runAll();
    }

    test::ManualExecutor mainExecutor;
    test::ManualExecutor worker;
    bool failRun = false;
    int opened = 0;
    std::shared_ptr<setup::SetupModel> model;
    std::unique_ptr<MainWindow> window;
    QCheckBox* consent = nullptr;
    QPushButton* primary = nullptr;
    QLabel* status = nullptr;
};

TEST_F(MainWindowTest, PrimaryButtonNeedsConsent) {
    EXPECT_EQ(window->windowTitle(), "Орвек · OpenCode для Mac");
    EXPECT_EQ(primary->text(), "Установить и подключить");
    EXPECT_FALSE(primary->isEnabled());
    QTest::mouseClick(consent, Qt::LeftButton);
    EXPECT_TRUE(model->consent());
    EXPECT_TRUE(primary->isEnabled());
}

TEST_F(MainWindowTest, FollowsTheRunToSuccessAndOpensOpenCode) {
    consent->setChecked(true);
    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(primary->text(), "Настройка выполняется…");
    EXPECT_FALSE(primary->isEnabled());
    EXPECT_EQ(status->text(), "Проверяем компьютер…");

    finishRun();
    EXPECT_EQ(primary->text(), "Открыть OpenCode");
    EXPECT_TRUE(primary->isEnabled());
    EXPECT_EQ(status->text().toStdString(), setup::SetupModel::kConnectedText);
    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_EQ(opened, 1);
}

TEST_F(MainWindowTest, ShowsTheFailureAndOffersRetry) {
    failRun = true;
    consent->setChecked(true);
    QTest::mouseClick(primary, Qt::LeftButton);
    finishRun();
    EXPECT_EQ(status->text(), "Закройте OpenCode и повторите действие.");
    EXPECT_EQ(primary->text(), "Повторить подключение");
    EXPECT_TRUE(primary->isEnabled());
}

} // namespace
} // namespace orvek::app
