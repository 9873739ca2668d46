// Everything the wizard offers can be done without a mouse: Tab visits every enabled control
// once, in the order the screen reads; Return presses the default action wherever the focus
// is; Space presses the focused control; Escape closes what may be closed and nothing else.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/MainWindow.h"
#include "app/QtMcpAlerts.h"
#include "app/QtPromoAlerts.h"
#include "app/RenderScreens.h"
#include "app/SkillsSheet.h"
#include "mcp/McpPresenter.h"
#include "promo/PromoPresenter.h"

namespace orvek::app {
namespace {

using setup::SetupModel;
using Widgets = std::vector<QWidget*>;

// How the tables name a control: its label without mnemonics, or a field's accessible name.
QString labelOf(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return QString(button->text()).remove(QLatin1Char('&'));
    return widget->accessibleName();
}

// Readable in a failure message, unlike a list of strings.
std::string joined(const QStringList& labels) {
    return labels.join(QStringLiteral(" | ")).toStdString();
}

QStringList labelsOf(const Widgets& widgets) {
    QStringList labels;
    for (const auto* widget : widgets)
        labels << labelOf(widget);
    return labels;
}

bool takesTab(const QWidget* widget) {
    return widget->isVisible() && widget->isEnabled() &&
           (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

// Where Tab lands from the window itself.
QWidget* firstControl(QWidget& window) {
    for (QWidget* at = window.nextInFocusChain(); at != &window; at = at->nextInFocusChain())
        if (at->window() == &window && takesTab(at))
            return at;
    return nullptr;
}

// The controls `key` (Tab or Backtab) visits from the first control until it comes back there.
Widgets cycle(QWidget& window, Qt::Key key) {
    Widgets visited;
    QWidget* first = firstControl(window);
    if (first == nullptr)
        return visited;
    first->setFocus(Qt::TabFocusReason);
    QWidget* at = first;
    // More steps than any screen has controls: a cycle that never closes fails the comparison.
    for (int step = 0; step < 40 && at != nullptr; ++step) {
        visited.push_back(at);
        QTest::keyClick(at, key);
        at = QApplication::focusWidget();
        if (at == first)
            break;
    }
    return visited;
}

// Every control a user could act on: visible, enabled buttons and fields of the window.
Widgets actions(QWidget& window) {
    Widgets found;
    for (auto* widget : window.findChildren<QWidget*>()) {
        const bool action = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                            qobject_cast<QLineEdit*>(widget) != nullptr;
        if (action && widget->window() == &window && widget->isVisible() && widget->isEnabled())
            found.push_back(widget);
    }
    return found;
}

QRect placeOf(const QWidget* widget) {
    return {widget->mapTo(widget->window(), QPoint(0, 0)), widget->size()};
}

// A reader meets `next` after `previous`: further right on the same line, or on a later one.
bool readsAfter(const QWidget* previous, const QWidget* next) {
    const QRect a = placeOf(previous);
    const QRect b = placeOf(next);
    const bool sameLine = a.top() < b.bottom() && b.top() < a.bottom();
    return sameLine ? b.left() > a.left() : b.top() >= a.bottom();
}

// The checks every window, sheet and alert shares: the Tab cycle is `expected`, reaches
// every action, follows the reading order, and Backtab walks it the other way.
void expectKeyboardWalk(QWidget& window, const QStringList& expected) {
    const Widgets forward = cycle(window, Qt::Key_Tab);
    EXPECT_EQ(joined(labelsOf(forward)), joined(expected));
    QStringList reached = labelsOf(forward);
    QStringList all = labelsOf(actions(window));
    reached.sort();
    all.sort();
    EXPECT_EQ(joined(reached), joined(all)) << "every enabled action is a Tab stop";
    for (std::size_t i = 1; i < forward.size(); ++i)
        EXPECT_TRUE(readsAfter(forward[i - 1], forward[i]))
            << labelOf(forward[i]).toStdString() << " after "
            << labelOf(forward[i - 1]).toStdString();

    const Widgets backward = cycle(window, Qt::Key_Backtab);
    QStringList reversed = expected;
    if (!reversed.isEmpty())
        std::reverse(reversed.begin() + 1, reversed.end());
    EXPECT_EQ(joined(labelsOf(backward)), joined(reversed));
}

// Moves the focus to the `index`th control by Tab alone, as a keyboard user gets there.
QWidget* tabTo(QWidget& window, std::size_t index) {
    QWidget* at = firstControl(window);
    if (at == nullptr)
        return nullptr;
    at->setFocus(Qt::TabFocusReason);
    for (std::size_t i = 0; i < index; ++i) {
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
    }
    return at;
}

// Where keys go when the focus is nowhere: the window, as the platform delivers them.
QWidget* keyTarget(QWidget& window) {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr ? focus : &window;
}

bool activate(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// --- The main window ---

enum class Outcome { nothing, start, open };

struct WindowRow {
    const char* screen;
    std::function<void(SetupModel&)> extra;
    QStringList order;
    Outcome onReturn;
};

const QString kConsent = QStringLiteral("Подключить мой аккаунт Орвека");
const QString kDetails = QStringLiteral("Сведения и MCP");
const QString kClose = QStringLiteral("Закрыть");

std::vector<WindowRow> windowRows() {
    const auto none = [](SetupModel&) {};
    const QStringList retry{kConsent, QStringLiteral("Повторить подключение"), kDetails, kClose};
    const QStringList ready{QStringLiteral("Открыть OpenCode"), QStringLiteral("Навыки"), kDetails,
                            kClose};
    return {
        {"welcome", none, {kConsent, kDetails, kClose}, Outcome::nothing},
        {"welcome",
         [](SetupModel& m) { m.setConsent(true); },
         {kConsent, QStringLiteral("Установить и подключить"), kDetails, kClose},
         Outcome::start},
        // Nothing can be done while the run is busy, so nothing takes the focus.
        {"installing", none, {}, Outcome::nothing},
        {"installing-progress", none, {}, Outcome::nothing},
        {"auth", none, {}, Outcome::nothing},
        {"waitclient", none, retry, Outcome::start},
        {"cancel", none, retry, Outcome::start},
        {"failure", none, retry, Outcome::start},
        {"failure-long", none, retry, Outcome::start},
        {"ready", none, ready, Outcome::open},
        {"ready-long", none, ready, Outcome::open},
        {"skills-autoclose", none, ready, Outcome::open},
        {"skills-continue", none, ready, Outcome::open},
    };
}

// One window screen as its user meets it: on screen, active, in the row's state.
struct WindowScreen {
    explicit WindowScreen(const WindowRow& row) {
        RenderScreens::applyState(QString::fromLatin1(row.screen), *fixture.model);
        row.extra(*fixture.model);
        window = std::make_unique<MainWindow>(fixture.model);
        active = activate(*window);
    }

    test::AppModelFixture fixture;
    std::unique_ptr<MainWindow> window;
    bool active = false;
};

TEST(Keyboard, TabWalksEachWindowScreenInReadingOrder) {
    for (const auto& row : windowRows()) {
        SCOPED_TRACE(row.screen + (" " + row.order.join(QLatin1Char('|'))).toStdString());
        WindowScreen screen(row);
        ASSERT_TRUE(screen.active);
        // The keyboard starts at the first control, so Space or Tab works at once.
        QWidget* first = firstControl(*screen.window);
        EXPECT_EQ(QApplication::focusWidget(), first);
        expectKeyboardWalk(*screen.window, row.order);
    }
}

TEST(Keyboard, ReturnPressesThePrimaryButtonFromEveryControlAndEscapeClosesNothing) {
    for (const auto& row : windowRows()) {
        // Once from each control, and once for a screen with none.
        const std::size_t places = std::max<qsizetype>(row.order.size(), 1);
        for (std::size_t place = 0; place < places; ++place) {
            SCOPED_TRACE(std::string(row.screen) + " from control " + std::to_string(place));
            for (const auto key : {Qt::Key_Escape, Qt::Key_Return}) {
                WindowScreen screen(row);
                ASSERT_TRUE(screen.active);
                tabTo(*screen.window, place);
                const auto& model = *screen.fixture.model;
                const bool wasReady = model.ready();
                const bool wasFailed = model.failed();
                const bool wasBusy = model.busy();
                QTest::keyClick(keyTarget(*screen.window), key);

                const Outcome outcome = key == Qt::Key_Return ? row.onReturn : Outcome::nothing;
                EXPECT_TRUE(screen.window->isVisible()) << "the window stays";
                EXPECT_EQ(screen.fixture.opened, outcome == Outcome::open ? 1 : 0);
                EXPECT_EQ(model.busy(), outcome == Outcome::start || wasBusy);
                EXPECT_EQ(model.ready(), wasReady);
                EXPECT_EQ(model.failed(), wasFailed && outcome != Outcome::start);
                EXPECT_FALSE(model.showSkills());
            }
        }
    }
}

TEST(Keyboard, SpacePressesTheFocusedControlOfTheWindow) {
    for (const auto& row : windowRows()) {
        for (qsizetype place = 0; place < row.order.size(); ++place) {
            SCOPED_TRACE(std::string(row.screen) + " " + row.order[place].toStdString());
            WindowScreen screen(row);
            ASSERT_TRUE(screen.active);
            auto* button = qobject_cast<QAbstractButton*>(tabTo(*screen.window, place));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(labelOf(button).toStdString(), row.order[place].toStdString());
            QSignalSpy clicked(button, &QAbstractButton::clicked);
            QTest::keyClick(button, Qt::Key_Space);
            EXPECT_EQ(clicked.count(), 1);
        }
    }
}

TEST(Keyboard, ReturnStillWorksAfterARunHasTakenTheFocusAway) {
    test::AppModelFixture fixture;
    fixture.model->setConsent(true);
    MainWindow window(fixture.model);
    ASSERT_TRUE(activate(window));
    QTest::keyClick(keyTarget(window), Qt::Key_Return);
    ASSERT_TRUE(fixture.model->busy());
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "every control is disabled while busy";
    fixture.worker.runAll();
    fixture.mainExecutor.runAll();
    ASSERT_TRUE(fixture.model->ready());
    QTest::keyClick(keyTarget(window), Qt::Key_Return);
    EXPECT_EQ(fixture.opened, 1);
}

// --- The skills sheet ---

struct SheetRow {
    const char* screen;
    QStringList after; // the controls after the role boxes; none while busy
    bool installsOnReturn;
    bool closesOnEscape;
};

const SheetRow kSheetRows[] = {
    // Nothing selected: Return has nothing to install.
    {"skills", {"Пропустить", "Установить выбранные"}, false, true},
    {"skills-all", {"Пропустить", "Установить выбранные"}, true, true},
    {"skills-ready", {"Пропустить", "Установить выбранные"}, true, true},
    {"skills-error",
     {"Выбрать другую рабочую папку…", "Продолжить", "Повторить навыки"},
     true,
     true},
    // While skills install the step neither starts again nor closes.
    {"skills-busy", {}, false, false},
};

// The sheet over its window, as the skills step shows it.
struct SheetScreen {
    explicit SheetScreen(const SheetRow& row) {
        RenderScreens::applyState(QString::fromLatin1(row.screen), *fixture.model);
        fixture.model->setShowSkills(true);
        parent.show();
        sheet = std::make_unique<SkillsSheet>(fixture.model, &parent);
        active = activate(*sheet);
    }

    test::AppModelFixture fixture;
    QWidget parent;
    std::unique_ptr<SkillsSheet> sheet;
    bool active = false;
};

QStringList sheetOrder(const SheetRow& row, const SetupModel& model) {
    if (row.after.isEmpty())
        return {};
    QStringList order;
    for (const auto& role : model.roles())
        order << QString::fromStdString(role.title);
    return order + row.after;
}

TEST(Keyboard, TabWalksTheSkillsSheetInReadingOrder) {
    for (const auto& row : kSheetRows) {
        SCOPED_TRACE(row.screen);
        SheetScreen screen(row);
        ASSERT_TRUE(screen.active);
        const QStringList order = sheetOrder(row, *screen.fixture.model);
        if (!order.isEmpty()) {
            EXPECT_EQ(QApplication::focusWidget(), firstControl(*screen.sheet));
        }
        expectKeyboardWalk(*screen.sheet, order);
    }
}

TEST(Keyboard, TheSheetInstallsOnReturnAndClosesOnEscapeFromEveryControl) {
    for (const auto& row : kSheetRows) {
        // From the first role box and from each control beneath the boxes.
        std::vector<std::size_t> places{0};
        const std::size_t roles = test::AppModelFixture().model->roles().size();
        for (qsizetype i = 0; i < row.after.size(); ++i)
            places.push_back(roles + static_cast<std::size_t>(i));
        for (const auto place : places) {
            for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
                SCOPED_TRACE(std::string(row.screen) + " from control " + std::to_string(place) +
                             (key == Qt::Key_Return ? " Return" : " Escape"));
                SheetScreen screen(row);
                ASSERT_TRUE(screen.active);
                const auto& model = *screen.fixture.model;
                const bool wasBusy = model.skillsBusy();
                tabTo(*screen.sheet, place);
                QTest::keyClick(keyTarget(*screen.sheet), key);

                const bool install = key == Qt::Key_Return && row.installsOnReturn;
                const bool close = key == Qt::Key_Escape && row.closesOnEscape;
                EXPECT_EQ(model.skillsBusy(), wasBusy || install);
                EXPECT_EQ(model.showSkills(), !close);
                EXPECT_EQ(model.ready(), true);
            }
        }
    }
}

TEST(Keyboard, ReturnStillInstallsAfterAnInstallationHasTakenTheFocusAway) {
    const SheetRow row{"skills-all", {}, true, true};
    SheetScreen screen(row);
    ASSERT_TRUE(screen.active);
    auto& model = *screen.fixture.model;
    model.setSkillsBusy(true);
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "every control is disabled while busy";
    model.setSkillsBusy(false);
    model.setSkillsFailed(true);
    QTest::keyClick(keyTarget(*screen.sheet), Qt::Key_Return);
    EXPECT_TRUE(model.skillsBusy());
}

// --- Alerts ---

struct AlertRow {
    const char* screen;
    QStringList order;
    QString onReturn; // the default button
    QString onEscape; // the button that leaves without acting
};

const AlertRow kAlertRows[] = {
    {"close-busy", {"OK"}, "OK", "OK"},
    {"mcp-info", {"Закрыть", "Проверить MCP", "Подключить через CLI"}, "Закрыть", "Закрыть"},
    {"mcp-progress", {"Отмена"}, "Отмена", "Отмена"},
    {"mcp-result", {"Закрыть"}, "Закрыть", "Закрыть"},
    {"mcp-error", {"Закрыть"}, "Закрыть", "Закрыть"},
    // Escape never copies: copying keeps the offer open, Escape leaves it.
    {"promo-fixture",
     {"Промокод", "Копировать код", "Перейти к пополнению", "Сейчас не нужно"},
     "Копировать код",
     "Сейчас не нужно"},
};

std::unique_ptr<QMessageBox> shownAlert(const AlertRow& row) {
    auto alert = RenderScreens::buildAlert(QString::fromLatin1(row.screen), nullptr);
    if (alert && !activate(*alert))
        return nullptr;
    return alert;
}

// A screen added to the render table needs its keyboard walk here too ("mcp-repair" draws the
// same alert as "mcp-info").
TEST(Keyboard, EveryWindowScreenAndAlertHasAWalk) {
    QStringList walked;
    for (const auto& row : windowRows())
        walked << QString::fromLatin1(row.screen);
    for (const auto& row : kAlertRows)
        walked << QString::fromLatin1(row.screen);
    walked << QStringLiteral("mcp-repair");
    for (const auto& name : RenderScreens::names()) {
        if (RenderScreens::contentFor(name) != RenderScreens::Content::skills) {
            EXPECT_TRUE(walked.contains(name)) << name.toStdString();
        }
    }
}

TEST(Keyboard, TabWalksEachAlertInReadingOrderFromItsDefaultButton) {
    for (const auto& row : kAlertRows) {
        SCOPED_TRACE(row.screen);
        const auto alert = shownAlert(row);
        ASSERT_NE(alert, nullptr);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(labelOf(QApplication::focusWidget()).toStdString(), row.onReturn.toStdString())
            << "the alert opens with the focus on its default button";
        expectKeyboardWalk(*alert, row.order);
        alert->hide();
    }
}

TEST(Keyboard, ReturnPressesTheDefaultAndEscapeTheLeavingButtonFromEveryControl) {
    for (const auto& row : kAlertRows) {
        for (qsizetype place = 0; place < row.order.size(); ++place) {
            for (const auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                SCOPED_TRACE(std::string(row.screen) + " from " + row.order[place].toStdString() +
                             " key " + std::to_string(key));
                const auto alert = shownAlert(row);
                ASSERT_NE(alert, nullptr);
                ASSERT_EQ(labelOf(tabTo(*alert, place)).toStdString(),
                          row.order[place].toStdString());
                QTest::keyClick(keyTarget(*alert), key);
                EXPECT_FALSE(alert->isVisible());
                ASSERT_NE(alert->clickedButton(), nullptr);
                EXPECT_EQ(labelOf(alert->clickedButton()).toStdString(),
                          (key == Qt::Key_Escape ? row.onEscape : row.onReturn).toStdString());
            }
        }
    }
}

TEST(Keyboard, SpacePressesTheFocusedButtonOfAnAlert) {
    for (const auto& row : kAlertRows) {
        for (qsizetype place = 0; place < row.order.size(); ++place) {
            SCOPED_TRACE(std::string(row.screen) + " " + row.order[place].toStdString());
            const auto alert = shownAlert(row);
            ASSERT_NE(alert, nullptr);
            auto* button = qobject_cast<QAbstractButton*>(tabTo(*alert, place));
            if (button == nullptr)
                continue; // the promo code's field: nothing to press
            QTest::keyClick(button, Qt::Key_Space);
            EXPECT_FALSE(alert->isVisible());
            EXPECT_EQ(alert->clickedButton(), button);
        }
    }
}

// Sends each group of keys to the modal alert in front, one group per alert that comes up.
void typeIntoAlerts(std::vector<std::vector<Qt::Key>> groups) {
    auto remaining = std::make_shared<std::vector<std::vector<Qt::Key>>>(std::move(groups));
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, remaining] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (remaining->empty()) {
            timer->deleteLater();
            return;
        }
        // Each alert is typed into once, and only once it has the keyboard.
        if (box == nullptr || !box->isVisible() || box->property("typedInto").toBool())
            return;
        if (!box->isActiveWindow()) {
            box->activateWindow();
            return;
        }
        box->setProperty("typedInto", true);
        const auto keys = remaining->front();
        remaining->erase(remaining->begin());
        for (const auto key : keys)
            QTest::keyClick(keyTarget(*box), key);
    });
    timer->start();
}

TEST(Keyboard, ThePromoOfferCopiesOnReturnAndStaysThenLeavesOnEscape) {
    const promo::VerifiedPromoOffer offer{"ORVEK-50", "Условия акции.", "https://orvek.ru/balance"};
    QGuiApplication::clipboard()->setText(QStringLiteral("прежнее"));
    QtPromoAlerts alerts(nullptr);
    // Escape alone: nothing copied, nothing opened, the offer gone.
    typeIntoAlerts({{Qt::Key_Escape}});
    alerts.show(offer);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "прежнее");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Return copies from wherever the focus is, the offer comes back, Escape then leaves it.
    typeIntoAlerts({{Qt::Key_Tab, Qt::Key_Return}, {Qt::Key_Escape}});
    alerts.show(offer);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ORVEK-50");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(Keyboard, EscapeLeavesTheMcpAlertsWithoutACheck) {
    QtMcpAlerts alerts(nullptr);
    typeIntoAlerts({{Qt::Key_Tab, Qt::Key_Escape}});
    EXPECT_EQ(alerts.run(mcp::McpPresenter::infoAlert()),
              static_cast<std::size_t>(mcp::McpPresenter::Choice::close));
    // The progress alert's Escape is its "Отмена": the modal run ends.
    typeIntoAlerts({{Qt::Key_Escape}});
    alerts.runProgress(mcp::McpPresenter::progressAlert());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace orvek::app
