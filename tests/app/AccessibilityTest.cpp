// Every control a user can reach must tell assistive technology what it is: the test walks the
// accessibility tree of each screen and alert the render mode knows and fails on an interactive
// element without a name, on a picture or progress bar without one, and on a control whose
// purpose its name alone does not tell and that has no description.

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/CatPortrait.h"
#include "app/MainWindow.h"
#include "app/QtFolderPanel.h"
#include "app/RenderScreens.h"
#include "app/SkillsView.h"
#include "app/SymbolIcon.h"

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

// What shows rather than tells and so needs words: progress, the art, the status marks and the
// brand's mark.
bool meaningful(QAccessibleInterface* item) {
    if (item->role() == QAccessible::ProgressBar || item->role() == QAccessible::Graphic)
        return true;
    QObject* object = item->object();
    if (qobject_cast<CatPortrait*>(object) != nullptr)
        return true;
    if (const auto* icon = qobject_cast<SymbolIcon*>(object))
        return !icon->symbol().isEmpty();
    return object != nullptr && object->objectName() == QLatin1String("brandMark");
}

QString describe(QAccessibleInterface* item) {
    return QStringLiteral("%1 %2 %3")
        .arg(item->role())
        .arg(item->object() ? item->object()->metaObject()->className() : "?")
        .arg(item->text(QAccessible::Name));
}

// The elements below `item` that a user would need words for and that have none.
void unnamed(QAccessibleInterface* item, QStringList& missing) {
    if (!item || item->state().invisible)
        return;
    if ((interactive(item->role()) || meaningful(item)) &&
        item->text(QAccessible::Name).trimmed().isEmpty())
        missing << describe(item);
    for (int i = 0; i < item->childCount(); ++i)
        unnamed(item->child(i), missing);
}

// Labels that say all there is to say about what the control does.
bool selfExplanatory(const QString& name) {
    return name == QStringLiteral("Закрыть");
}

// The controls below `item` whose name does not tell their purpose and that have no
// description.
void undescribed(QAccessibleInterface* item, QStringList& missing) {
    if (!item || item->state().invisible)
        return;
    if (interactive(item->role()) && !selfExplanatory(item->text(QAccessible::Name)) &&
        item->text(QAccessible::Description).trimmed().isEmpty())
        missing << describe(item);
    for (int i = 0; i < item->childCount(); ++i)
        undescribed(item->child(i), missing);
}

using Walk = void (*)(QAccessibleInterface*, QStringList&);

QStringList walk(QWidget& widget, Walk check = &unnamed) {
    widget.show();
    QApplication::processEvents();
    QStringList missing;
    check(QAccessible::queryAccessibleInterface(&widget), missing);
    return missing;
}

QStringList unnamedIn(QWidget& widget) {
    return walk(widget, &unnamed);
}

// Both walks over one screen: every element that needs words has a name, and every control
// whose name does not tell its purpose has a description.
void expectNamedAndDescribed(QWidget& widget) {
    EXPECT_EQ(unnamedIn(widget).join(QStringLiteral("; ")).toStdString(), "");
    EXPECT_EQ(walk(widget, &undescribed).join(QStringLiteral("; ")).toStdString(), "");
}

// Every screen the render mode knows, by kind, so a screen added to its table is walked too.
QStringList screensOf(RenderScreens::Content content) {
    QStringList screens;
    for (const auto& name : RenderScreens::names())
        if (RenderScreens::contentFor(name) == content)
            screens << name;
    return screens;
}

TEST(Accessibility, EveryControlOfTheWindowHasAName) {
    for (const auto& screen : screensOf(RenderScreens::Content::setup)) {
        SCOPED_TRACE(screen.toStdString());
        test::AppModelFixture fixture;
        RenderScreens::applyState(screen, *fixture.model);
        MainWindow window(fixture.model);
        expectNamedAndDescribed(window);
    }
}

TEST(Accessibility, EveryControlOfTheSkillsSheetHasAName) {
    for (const auto& screen : screensOf(RenderScreens::Content::skills)) {
        SCOPED_TRACE(screen.toStdString());
        test::AppModelFixture fixture;
        RenderScreens::applyState(screen, *fixture.model);
        SkillsView view(fixture.model);
        expectNamedAndDescribed(view);
    }
}

TEST(Accessibility, EveryControlOfEachAlertHasAName) {
    for (const auto& screen : screensOf(RenderScreens::Content::alert)) {
        SCOPED_TRACE(screen.toStdString());
        const auto alert = RenderScreens::buildAlert(screen, nullptr);
        ASSERT_NE(alert, nullptr);
        expectNamedAndDescribed(*alert);
        alert->hide();
    }
}

TEST(Accessibility, TheArtAndTheStatusMarksSayWhatTheyShow) {
    test::AppModelFixture fixture;
    MainWindow window(fixture.model);
    window.show();
    const auto* cat = window.findChild<CatPortrait*>();
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(cat->accessibleName(), QString::fromUtf8(CatPortrait::kAccessibleName));
    EXPECT_FALSE(cat->accessibleDescription().isEmpty());

    // The alerts' icon is the same art with the same words.
    const auto alert = RenderScreens::buildAlert(QStringLiteral("mcp-info"), nullptr);
    ASSERT_NE(alert, nullptr);
    const auto* icon = alert->findChild<QWidget*>(QStringLiteral("qt_msgboxex_icon_label"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->accessibleName(), QString::fromUtf8(CatPortrait::kAccessibleName));

    struct Row {
        const char* symbol;
        const char* meaning;
    };
    const Row rows[] = {{"exclamationmark.circle", "Внимание"},
                        {"checkmark.circle", "Готово"},
                        {"clock", "Выполняется"},
                        {"", ""}};
    SymbolIcon mark;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.symbol);
        mark.setSymbol(QString::fromLatin1(row.symbol), Qt::black);
        EXPECT_EQ(mark.accessibleName(), QString::fromUtf8(row.meaning));
    }
}

TEST(Accessibility, EveryControlOfTheFolderPanelHasAName) {
    const setup::FolderPanelRequest request{"Другая рабочая папка",
                                            "В выбранной папке будет создана новая папка Орвека.",
                                            "Создать новую папку"};
    const auto panel = QtFolderPanel::buildDialog(request, nullptr);
    EXPECT_EQ(unnamedIn(*panel).join(QStringLiteral("; ")).toStdString(), "");
    panel->hide();
}

} // namespace
} // namespace orvek::app
