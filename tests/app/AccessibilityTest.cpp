// Every control a user can reach must tell assistive technology what it is: the test walks the
// accessibility tree of each screen and alert the render mode knows and fails on an interactive
// element without a name.

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/MainWindow.h"
#include "app/RenderScreens.h"
#include "app/SkillsView.h"

namespace orvek::app {
namespace {

bool interactive(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::Link:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
        return true;
    default:
        return false;
    }
}

// The interactive elements without a name below `item`, by role and class.
void unnamed(QAccessibleInterface* item, QStringList& missing) {
    if (!item || item->state().invisible)
        return;
    if (interactive(item->role()) && item->text(QAccessible::Name).trimmed().isEmpty())
        missing << QStringLiteral("%1 %2")
                       .arg(item->role())
                       .arg(item->object() ? item->object()->metaObject()->className() : "?");
    for (int i = 0; i < item->childCount(); ++i)
        unnamed(item->child(i), missing);
}

QStringList unnamedIn(QWidget& widget) {
    widget.show();
    QApplication::processEvents();
    QStringList missing;
    unnamed(QAccessible::queryAccessibleInterface(&widget), missing);
    return missing;
}

const char* const kWindowScreens[] = {
    "welcome", "installing",   "auth",       "waitclient",       "cancel",          "ready",
    "failure", "failure-long", "ready-long", "skills-autoclose", "skills-continue",
};
const char* const kSkillsScreens[] = {"skills", "skills-all", "skills-busy", "skills-error",
                                      "skills-ready"};
const char* const kAlertScreens[] = {"close-busy", "mcp-info",  "mcp-progress",
                                     "mcp-result", "mcp-error", "promo-fixture"};

TEST(Accessibility, EveryControlOfTheWindowHasAName) {
    for (const char* screen : kWindowScreens) {
        SCOPED_TRACE(screen);
        test::AppModelFixture fixture;
        RenderScreens::applyState(QString::fromLatin1(screen), *fixture.model);
        MainWindow window(fixture.model);
        EXPECT_EQ(unnamedIn(window), QStringList());
    }
}

TEST(Accessibility, EveryControlOfTheSkillsSheetHasAName) {
    for (const char* screen : kSkillsScreens) {
        SCOPED_TRACE(screen);
        test::AppModelFixture fixture;
        RenderScreens::applyState(QString::fromLatin1(screen), *fixture.model);
        SkillsView view(fixture.model);
        EXPECT_EQ(unnamedIn(view), QStringList());
    }
}

TEST(Accessibility, EveryControlOfEachAlertHasAName) {
    for (const char* screen : kAlertScreens) {
        SCOPED_TRACE(screen);
        const auto alert = RenderScreens::buildAlert(QString::fromLatin1(screen), nullptr);
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(unnamedIn(*alert), QStringList());
        alert->hide();
    }
}

} // namespace
} // namespace orvek::app
