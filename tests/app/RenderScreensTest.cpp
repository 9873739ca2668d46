#include "app/RenderScreens.h"

#include <set>
#include <string>

#include <QMessageBox>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/BusyCloseAlert.h"

namespace orvek::app {
namespace {

using Content = RenderScreens::Content;

TEST(RenderScreens, ChoosesTheContentByName) {
    const std::pair<const char*, Content> rows[] = {
        {"welcome", Content::setup},          {"ready", Content::setup},
        {"skills-autoclose", Content::setup}, {"skills-continue", Content::setup},
        {"no-such-screen", Content::setup},   {"skills", Content::skills},
        {"skills-busy", Content::skills},     {"skills-error", Content::skills},
        {"close-busy", Content::alert},       {"mcp-info", Content::alert},
        {"mcp-anything", Content::alert},     {"promo-fixture", Content::alert},
    };
    for (const auto& [name, content] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RenderScreens::contentFor(QString::fromLatin1(name)), content);
    }
    EXPECT_EQ(RenderScreens::defaultSize(Content::setup), QSize(820, 650));
    EXPECT_EQ(RenderScreens::defaultSize(Content::skills), QSize(600, 620));
}

struct StateRow {
    const char* name;
    bool consent;
    bool busy;
    bool ready;
    bool failed;
    std::string status;
};

std::string sixTimes(const std::string& fragment) {
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += fragment;
    return text;
}

TEST(RenderScreens, PutsTheModelIntoEachScreensFixtureState) {
    const StateRow rows[] = {
        {"welcome", false, false, false, false, ""},
        {"no-such-screen", false, false, false, false, ""},
        {"installing", true, true, false, false, "Скачиваем официальный OpenCode…"},
        {"auth", true, true, false, false, "Завершите вход в Орвек в браузере…"},
        {"waitclient", true, false, false, true,
         "Закройте OpenCode и повторите подключение. Открытые проекты и настройки будут сохранены."},
        {"cancel", true, false, false, true,
         "Подключение отменено. Настройки сохранены. Вы можете повторить подключение."},
        {"ready", true, false, true, false,
         "Подключение проверено. Откройте рабочую папку в OpenCode."},
        {"failure", true, false, false, true,
         "Не удалось завершить подключение. Проверьте интернет и повторите попытку."},
        {"failure-long", true, false, false, true,
         sixTimes(
             "Не удалось получить данные подключения. Существующие настройки сохранены. Повторите проверку позже. ")},
        {"ready-long", true, false, true, false,
         sixTimes(
             "Модели подключены. MCP проверяется отдельно в сведениях. Навыки добавляются по вашему выбору. ")},
        {"skills-autoclose", true, false, true, false,
         "Выбранные навыки добавлены. Можно открыть OpenCode."},
        {"skills-continue", true, false, true, false,
         "Модели готовы. Некоторые навыки не добавлены; их можно настроить позже."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fixture;
        RenderScreens::applyState(QString::fromLatin1(row.name), *fixture.model);
        const auto& model = *fixture.model;
        EXPECT_EQ(model.consent(), row.consent);
        EXPECT_EQ(model.busy(), row.busy);
        EXPECT_EQ(model.ready(), row.ready);
        EXPECT_EQ(model.failed(), row.failed);
        EXPECT_EQ(model.status(), row.status);
        EXPECT_FALSE(model.showSkills());
    }
}

TEST(RenderScreens, SkillsScreensStartFromTheReadyModelWithNothingSelected) {
    struct Row {
        const char* name;
        std::set<std::string> selection;
        bool busy;
        bool failed;
        bool succeeded;
        bool alternate;
        std::string status;
    };
    const Row rows[] = {
        {"skills",
         {},
         false,
         false,
         false,
         false,
         "Ничего не выбрано. Можно пропустить и добавить навыки позже."},
        {"skills-error",
         {"developer"},
         false,
         true,
         false,
         true,
         "Рабочая папка занята. Файлы сохранены. Выберите другую папку или продолжите без оставшихся навыков."},
        {"skills-ready",
         {"developer"},
         false,
         false,
         true,
         false,
         "Выбранные навыки готовы. Уже добавленные файлы сохранены."},
        {"skills-all",
         {"analyst", "designer", "developer", "manager", "video"},
         false,
         false,
         false,
         false,
         "Ничего не выбрано. Можно пропустить и добавить навыки позже."},
        {"skills-busy", {}, true, false, false, false, "Добавляем выбранные навыки…"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::AppModelFixture fixture;
        RenderScreens::applyState(QString::fromLatin1(row.name), *fixture.model);
        const auto& model = *fixture.model;
        EXPECT_TRUE(model.consent());
        EXPECT_TRUE(model.ready());
        EXPECT_FALSE(model.busy());
        EXPECT_EQ(model.selection(), row.selection);
        EXPECT_EQ(model.skillsBusy(), row.busy);
        EXPECT_EQ(model.skillsFailed(), row.failed);
        EXPECT_EQ(model.skillsSucceeded(), row.succeeded);
        EXPECT_EQ(model.canChooseAlternateFolder(), row.alternate);
        EXPECT_EQ(model.skillsStatus(), row.status);
    }
}

TEST(RenderScreens, CloseBusyAndUnknownMcpNamesDrawTheBusyAlert) {
    for (const char* name : {"close-busy", "mcp-something-new"}) {
        SCOPED_TRACE(name);
        const auto alert = RenderScreens::buildAlert(QString::fromLatin1(name), nullptr);
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->text(), BusyCloseAlert::kTitle);
        EXPECT_EQ(alert->informativeText(), BusyCloseAlert::kText);
        EXPECT_FALSE(alert->iconPixmap().isNull()) << "the brand art is the alert's icon";
    }
    EXPECT_EQ(RenderScreens::buildAlert(QStringLiteral("welcome"), nullptr), nullptr);
}

} // namespace
} // namespace orvek::app
