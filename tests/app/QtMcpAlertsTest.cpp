#include "app/QtMcpAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/RenderScreens.h"
#include "mcp/McpPresenter.h"

namespace orvek::app {
namespace {

// Presses the button labelled `label` of the modal alert once it is up.
void pressWhenUp(const QString& label) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, label] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        for (auto* button : box->buttons())
            if (button->text() == label) {
                timer->deleteLater();
                button->click();
                return;
            }
    });
    timer->start();
}

TEST(QtMcpAlerts, BuildsEachAlertWithItsTextsAndButtonsInOrder) {
    const auto info = QtMcpAlerts::build(mcp::McpPresenter::infoAlert(), nullptr);
    EXPECT_EQ(info->text(), "Орвек · OpenCode 0.6.0 — закрытый пилот");
    EXPECT_TRUE(info->informativeText().startsWith("По умолчанию: Opus 5.0."));
    QStringList labels;
    for (auto* button : info->buttons())
        labels << button->text();
    EXPECT_EQ(labels, (QStringList{"Закрыть", "Проверить MCP", "Подключить через CLI"}));
    ASSERT_NE(info->defaultButton(), nullptr);
    EXPECT_EQ(info->defaultButton()->text(), "Закрыть");
    EXPECT_FALSE(info->iconPixmap().isNull()) << "the brand art is the alert's icon";

    struct Row {
        const char* screen;
        QString title;
        QString text;
    };
    const Row rows[] = {
        {"mcp-repair", "Орвек · OpenCode 0.6.0 — закрытый пилот", info->informativeText()},
        {"mcp-progress", "Проверяем MCP…",
         "Без генерации. Проверка может занять до минуты. Закрытие отменяет ожидающее изменение настроек."},
        {"mcp-result", "MCP — результат проверки",
         "ТЕСТОВОЕ СОСТОЯНИЕ. initialize и tools/list подтверждены. Инструментов: 20. Генерация не выполнялась."},
        {"mcp-error", "MCP — результат проверки",
         "ТЕСТОВОЕ СОСТОЯНИЕ. Настройки не поддерживаются. Исходные файлы сохранены. Проверьте сохранённое подключение; повторный вход не запускался."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.screen);
        const auto alert = RenderScreens::buildAlert(QString::fromLatin1(row.screen), nullptr);
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->text(), row.title);
        EXPECT_EQ(alert->informativeText(), row.text);
    }
}

TEST(QtMcpAlerts, RunReturnsThePressedButtonsIndex) {
    QtMcpAlerts alerts(nullptr);
    pressWhenUp("Подключить через CLI");
    EXPECT_EQ(alerts.run(mcp::McpPresenter::infoAlert()), 2u);
    pressWhenUp("Закрыть");
    EXPECT_EQ(alerts.run(mcp::McpPresenter::infoAlert()), 0u);
}

TEST(QtMcpAlerts, TheProgressAlertEndsByCancelOrByTheChecksCompletion) {
    QtMcpAlerts alerts(nullptr);
    // The completion arrives through the event loop while the alert runs.
    QTimer::singleShot(100, [&alerts] { alerts.closeProgress(); });
    alerts.runProgress(mcp::McpPresenter::progressAlert());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    pressWhenUp("Отмена");
    alerts.runProgress(mcp::McpPresenter::progressAlert());
    // A completion after the alert has gone changes nothing.
    alerts.closeProgress();
}

} // namespace
} // namespace orvek::app
