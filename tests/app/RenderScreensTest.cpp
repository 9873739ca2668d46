#include "app/RenderScreens.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
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

// Everything of the model a screen can show, as text, to tell two fixture states apart.
std::string shownState(const setup::SetupModel& model) {
    std::ostringstream text;
    text << model.consent() << model.busy() << model.ready() << model.failed() << model.showSkills()
         << model.skillsBusy() << model.skillsFailed() << model.skillsSucceeded()
         << model.canChooseAlternateFolder() << " status: " << model.status()
         << " skills: " << model.skillsStatus() << " selected:";
    for (const auto& role : model.selection())
        text << ' ' << role;
    if (const auto& progress = model.downloadProgress())
        text << " received: " << progress->received << " of " << progress->expected.value_or(0);
    return text.str();
}

std::string stateAfter(const QString& name) {
    test::AppModelFixture fixture;
    RenderScreens::applyState(name, *fixture.model);
    return shownState(*fixture.model);
}

TEST(RenderScreens, EveryScreenDrawsAStateOfItsOwn) {
    test::AppModelFixture untouched;
    EXPECT_EQ(stateAfter(QStringLiteral("no-such-screen")), shownState(*untouched.model));
    EXPECT_EQ(stateAfter(QStringLiteral("welcome")), shownState(*untouched.model));

    // A copied fixture would draw the same picture under two names.
    std::map<std::string, QString> seen;
    for (const auto& name : RenderScreens::names()) {
        const auto content = RenderScreens::contentFor(name);
        if (content == Content::alert)
            continue;
        SCOPED_TRACE(name.toStdString());
        const auto state = std::to_string(static_cast<int>(content)) + " " + stateAfter(name);
        const auto [earlier, added] = seen.emplace(state, name);
        EXPECT_TRUE(added) << "the same as " << earlier->second.toStdString() << ": " << state;

        // The main run is in one state at a time, and only the first screen lacks the consent.
        test::AppModelFixture fixture;
        RenderScreens::applyState(name, *fixture.model);
        const auto& model = *fixture.model;
        const auto count = [](std::initializer_list<bool> flags) {
            return std::count(flags.begin(), flags.end(), true);
        };
        EXPECT_LE(count({model.busy(), model.ready(), model.failed()}), 1);
        EXPECT_LE(count({model.skillsBusy(), model.skillsFailed(), model.skillsSucceeded()}), 1);
        EXPECT_EQ(model.consent(), name != QLatin1String("welcome"));
    }
}

QString sourceText(const QString& relative) {
    QFile file(QStringLiteral(ORVEK_SOURCE_DIR "/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

std::string sortedNames(QStringList names) {
    names.sort();
    return names.join(' ').toStdString();
}

// An unknown name draws the empty setup screen without a word, so a gallery entry the table
// lacks would show the wrong picture.
TEST(RenderScreens, TheGalleryAndItsScriptShowEveryScreenOnce) {
    const auto expected = sortedNames(RenderScreens::names());

    const auto script = sourceText(QStringLiteral("scripts/screens"));
    const auto list = QRegularExpression(QStringLiteral(R"(\nscreens=\(([^)]*)\))")).match(script);
    ASSERT_TRUE(list.hasMatch()) << "no screens=( ... ) in scripts/screens";
    EXPECT_EQ(sortedNames(list.captured(1).split(QRegularExpression(QStringLiteral("\\s+")),
                                                 Qt::SkipEmptyParts)),
              expected);

    // Each picture as ![NAME](docs/screens/NAME.png)<br>Caption (`NAME`).
    const QRegularExpression picture(
        QStringLiteral(R"(!\[([^\]]*)\]\(docs/screens/([^)]*)\.png\)<br>[^|`]*\(`([^`]*)`\))"));
    QStringList shown;
    auto pictures = picture.globalMatch(sourceText(QStringLiteral("README.md")));
    while (pictures.hasNext()) {
        const auto match = pictures.next();
        const QString name = match.captured(2);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(match.captured(1).toStdString(), name.toStdString());
        EXPECT_EQ(match.captured(3).toStdString(), name.toStdString());
        EXPECT_TRUE(
            QFile::exists(QStringLiteral(ORVEK_SOURCE_DIR "/docs/screens/") + name + ".png"));
        shown << name;
    }
    EXPECT_EQ(sortedNames(shown), expected);
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
