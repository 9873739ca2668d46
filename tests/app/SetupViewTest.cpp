#include "app/SetupView.h"

#include <functional>
#include <string>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/CatPortrait.h"
#include "app/MainWindow.h"
#include "app/SymbolIcon.h"

namespace orvek::app {
namespace {

class SetupViewTest : public ::testing::Test, protected test::AppModelFixture {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(model);
        window->show();
        view = &window->setupView();
    }

    template <typename T> T* child(const char* name) const {
        auto* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QColor colorOf(const char* name) const {
        return child<QLabel>(name)->palette().color(QPalette::WindowText);
    }

    std::unique_ptr<MainWindow> window;
    SetupView* view = nullptr;
};

struct StateRow {
    const char* name;
    std::function<void(setup::SetupModel&)> set;
    const char* eyebrow;
    const char* title;
    const char* subtitle;
    bool note;
    const char* heading; // empty: no status panel
    const char* symbol;
    bool progress;
    bool consentShown;
    const char* primary;
    bool primaryEnabled;
    bool skillsShown;
    bool othersEnabled;
};

const char* const kNotReadySubtitle = "Настроим OpenCode для работы с моделями Орвека.";
const char* const kReadySubtitle =
    "Модели подключены. MCP проверяется отдельно; навыки можно добавить сейчас или позже.";

TEST(SetupView, ShowsWhatEachStateSaysAndAllows) {
    const StateRow rows[] = {
        {"welcome without consent", [](setup::SetupModel&) {}, "OPENCODE + Орвек",
         "Орвек для\nваших задач.", kNotReadySubtitle, true, "", "", false, true,
         "Установить и подключить", false, false, true},
        {"welcome with consent", [](setup::SetupModel& m) { m.setConsent(true); },
         "OPENCODE + Орвек", "Орвек для\nваших задач.", kNotReadySubtitle, true, "", "", false,
         true, "Установить и подключить", true, false, true},
        {"busy",
         [](setup::SetupModel& m) {
             m.setConsent(true);
             m.setBusy(true);
             m.setStatus("Скачиваем официальный OpenCode…");
         },
         "OPENCODE + Орвек", "Готовим ваше рабочее место", kNotReadySubtitle, false,
         "Настройка выполняется", "clock", true, false, "Настройка выполняется…", false, false,
         false},
        {"busy in the browser",
         [](setup::SetupModel& m) {
             m.setBusy(true);
             m.setStatus("Завершите вход в Орвек в браузере…");
         },
         "OPENCODE + Орвек", "Завершите вход в браузере", kNotReadySubtitle, false,
         "Настройка выполняется", "clock", true, false, "Настройка выполняется…", false, false,
         false},
        {"failed",
         [](setup::SetupModel& m) {
             m.setConsent(true);
             m.setFailed(true);
             m.setStatus("Закройте OpenCode и повторите действие.");
         },
         "OPENCODE + Орвек", "Продолжим, когда всё готово", kNotReadySubtitle, false,
         "Подключение не завершено", "exclamationmark.circle", false, true, "Повторить подключение",
         true, false, true},
        {"failed after the consent was withdrawn",
         [](setup::SetupModel& m) {
             m.setFailed(true);
             m.setStatus("Закройте OpenCode и повторите действие.");
         },
         "OPENCODE + Орвек", "Продолжим, когда всё готово", kNotReadySubtitle, false,
         "Подключение не завершено", "exclamationmark.circle", false, true, "Повторить подключение",
         false, false, true},
        {"ready without consent",
         [](setup::SetupModel& m) {
             m.setReady(true);
             m.setStatus("Подключение проверено. Откройте рабочую папку в OpenCode.");
         },
         "ВСЁ ДЛЯ ПЕРВОГО ШАГА", "Орвек подключён", kReadySubtitle, false,
         "Основная настройка готова", "checkmark.circle", false, false, "Открыть OpenCode", true,
         true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fresh;
        MainWindow window(fresh.model);
        window.show();
        row.set(*fresh.model);
        const auto find = [&](const char* name) {
            auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
            EXPECT_NE(widget, nullptr) << name;
            return widget;
        };
        const auto label = [&](const char* name) { return qobject_cast<QLabel*>(find(name)); };
        const auto pushButton = [&](const char* name) {
            return qobject_cast<QPushButton*>(find(name));
        };
        EXPECT_EQ(label("eyebrowLabel")->text(), QString::fromUtf8(row.eyebrow));
        EXPECT_EQ(label("titleLabel")->text(), QString::fromUtf8(row.title));
        EXPECT_EQ(label("subtitleLabel")->text(), QString::fromUtf8(row.subtitle));
        EXPECT_EQ(label("noteLabel")->isVisible(), row.note);
        const bool panel = *row.heading != '\0';
        EXPECT_EQ(find("statusPanel")->isVisible(), panel);
        if (panel) {
            EXPECT_EQ(label("statusHeading")->text(), QString::fromUtf8(row.heading));
            EXPECT_EQ(qobject_cast<SymbolIcon*>(find("statusIcon"))->symbol(),
                      QString::fromLatin1(row.symbol));
            EXPECT_EQ(label("statusLabel")->text().toStdString(), fresh.model->status());
        }
        EXPECT_EQ(find("progressIndicator")->isVisible(), row.progress);
        EXPECT_EQ(find("consentCheck")->isVisible(), row.consentShown);
        EXPECT_EQ(pushButton("primaryButton")->text(), QString::fromUtf8(row.primary));
        EXPECT_EQ(pushButton("primaryButton")->isEnabled(), row.primaryEnabled);
        EXPECT_EQ(pushButton("skillsButton")->isVisible(), row.skillsShown);
        EXPECT_EQ(pushButton("detailsButton")->isEnabled(), row.othersEnabled);
        EXPECT_EQ(pushButton("closeButton")->isEnabled(), row.othersEnabled);
    }
}

TEST_F(SetupViewTest, TheNoteNamesTheDefaultModel) {
    EXPECT_EQ(
        text("noteLabel"),
        "По умолчанию — Opus 5. Подготовим набор из семи моделей; переключение доступно в OpenCode.");
    EXPECT_EQ(child<QLabel>("consentExplanation")->text(),
              "В браузере: управление API-ключами, чтение баланса, доступ к MCP.");
    EXPECT_EQ(child<QCheckBox>("consentCheck")->text(), "Подключить мой аккаунт Орвека");
    EXPECT_EQ(child<CatPortrait>("catPortrait")->accessibleName(), "Кот Орвека с розовой лапкой");
}

TEST_F(SetupViewTest, TheFailureIsInTheErrorColourAndProgressInInk) {
    model->setFailed(true);
    model->setStatus("Сбой.");
    EXPECT_EQ(colorOf("statusLabel"), QColor(165, 45, 40));
    model->setFailed(false);
    model->setBusy(true);
    EXPECT_EQ(colorOf("statusLabel"), QColor(20, 22, 19));
}

TEST_F(SetupViewTest, TheConsentBoxAndTheModelFollowEachOther) {
    auto* consent = child<QCheckBox>("consentCheck");
    QTest::mouseClick(consent, Qt::LeftButton);
    EXPECT_TRUE(model->consent());
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    model->setConsent(false);
    EXPECT_FALSE(consent->isChecked());
    EXPECT_FALSE(button("primaryButton")->isEnabled());
}

TEST_F(SetupViewTest, ReturnStartsTheSetupOnlyWithConsent) {
    // Keyboard shortcuts reach only the active window.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_FALSE(model->busy());
    model->setConsent(true);
    QTest::keyClick(child<QCheckBox>("consentCheck"), Qt::Key_Return);
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(model->status(), setup::SetupModel::kCheckingText);
}

TEST_F(SetupViewTest, OnceReadyThePrimaryButtonOpensOpenCodeWhateverTheConsent) {
    model->setConsent(true);
    QTest::mouseClick(button("primaryButton"), Qt::LeftButton);
    worker.runAll();
    mainExecutor.runAll();
    ASSERT_TRUE(model->ready());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    model->setConsent(false);
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    QTest::mouseClick(button("primaryButton"), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    QTest::keyClick(view, Qt::Key_Enter);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(model->status(), setup::SetupModel::kConnectedText);
}

TEST_F(SetupViewTest, TheSkillsButtonReopensTheSkillsStep) {
    model->setReady(true);
    model->setShowSkills(false);
    QTest::mouseClick(button("skillsButton"), Qt::LeftButton);
    EXPECT_TRUE(model->showSkills());
}

TEST_F(SetupViewTest, TheDetailsButtonRunsItsAction) {
    int shown = 0;
    view->setDetailsAction([&] { ++shown; });
    QTest::mouseClick(button("detailsButton"), Qt::LeftButton);
    EXPECT_EQ(shown, 1);
    model->setBusy(true);
    QTest::mouseClick(button("detailsButton"), Qt::LeftButton);
    EXPECT_EQ(shown, 1);
}

TEST_F(SetupViewTest, TheCloseButtonAsksTheWindowWhichAsksItsGuard) {
    bool allow = false;
    int asked = 0;
    window->setCloseGuard([&] {
        ++asked;
        return allow;
    });
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window->isVisible());
    allow = true;
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

// The bar under the status fills by share when the size is known, otherwise keeps moving with
// the megabytes so far beneath it; the status text stays as the run set it.
TEST_F(SetupViewTest, ShowsDownloadProgressUnderTheUnchangedStatus) {
    model->setConsent(true);
    model->setBusy(true);
    model->setStatus("Скачиваем официальный OpenCode…");
    auto* bar = child<QProgressBar>("progressIndicator");
    auto* caption = child<QLabel>("downloadCaption");
    EXPECT_FALSE(caption->isVisible());
    EXPECT_EQ(bar->maximum(), 0) << "busy without a download: the bar just moves";

    struct Row {
        installer::DownloadProgress progress;
        int maximum;
        int value;
        const char* caption;
    };
    const Row rows[] = {
        {{48'600'000, 121'400'000}, 1000, 400, "49 из 121 МБ"},
        {{4'200'000, 9'000'000}, 1000, 466, "4,2 из 9,0 МБ"},
        {{0, 121'400'000}, 1000, 0, "0,0 из 121 МБ"},
        {{130'000'000, 121'400'000}, 1000, 1000, "121 из 121 МБ"},
        {{4'200'000, std::nullopt}, 0, -1, "Получено 4,2 МБ"},
        {{250'000'000, std::nullopt}, 0, -1, "Получено 250 МБ"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.caption);
        model->setDownloadProgress(row.progress);
        EXPECT_EQ(text("statusLabel"), "Скачиваем официальный OpenCode…");
        EXPECT_TRUE(bar->isVisible());
        EXPECT_EQ(bar->maximum(), row.maximum);
        if (row.maximum > 0) {
            EXPECT_EQ(bar->value(), row.value);
        }
        EXPECT_TRUE(caption->isVisible());
        EXPECT_EQ(caption->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(bar->accessibleDescription(), caption->text());
    }

    model->setDownloadProgress(std::nullopt);
    EXPECT_FALSE(caption->isVisible());
    EXPECT_EQ(bar->maximum(), 0);
    // A run that ended leaves no bar, whatever a late size said.
    model->setDownloadProgress(installer::DownloadProgress{1, 2});
    model->setBusy(false);
    model->setFailed(true);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(caption->isVisible());
}

TEST_F(SetupViewTest, UsesTheCompactFormWhenRoomIsShort) {
    struct Row {
        QSize size;
        bool compact;
    };
    for (const auto& row : {Row{{820, 650}, false}, Row{{650, 550}, false}, Row{{649, 650}, true},
                            Row{{820, 549}, true}, Row{{440, 420}, true}}) {
        SCOPED_TRACE(
            QStringLiteral("%1x%2").arg(row.size.width()).arg(row.size.height()).toStdString());
        window->resize(row.size);
        EXPECT_EQ(view->size(), row.size);
        EXPECT_EQ(view->isCompact(), row.compact);
        EXPECT_EQ(child<QLabel>("titleLabel")->font().pixelSize(), row.compact ? 27 : 38);
    }
}

TEST_F(SetupViewTest, ScrollsWhenTheWindowIsSmallerThanItsContent) {
    model->setFailed(true);
    std::string status;
    for (int i = 0; i < 6; ++i)
        status += "Не удалось получить данные подключения. Существующие настройки сохранены. ";
    model->setStatus(status);
    window->resize(440, 420);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GE(view->minimumWidth(), 440);
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    window->resize(820, 650);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    model->setFailed(false);
    model->setStatus({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
}

} // namespace
} // namespace orvek::app
