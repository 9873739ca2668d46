#include "app/QtMcpAlerts.h"

#include <QAbstractButton>
#include <QPushButton>

#include "app/BrandAlert.h"
#include "mcp/McpPresenter.h"

namespace orvek::app {
namespace {

// What a button does when its label alone does not say it; "Закрыть" needs no words.
QString descriptionOf(const std::string& label) {
    using mcp::McpPresenter;
    if (label == McpPresenter::kCheckButton)
        return QStringLiteral(
            "Проверяет доступность MCP без генерации; настройки OpenCode не меняются.");
    if (label == McpPresenter::kConnectButton)
        return QStringLiteral(
            "Проверяет сохранённый доступ через CLI и только после успешной проверки переключает MCP в настройках OpenCode на локальное подключение.");
    if (label == McpPresenter::kCancelButton)
        return QStringLiteral("Прекращает проверку; ожидающее изменение настроек не вносится.");
    return {};
}

} // namespace

QtMcpAlerts::QtMcpAlerts(QWidget* parent) : m_parent(parent) {}

std::unique_ptr<QMessageBox> QtMcpAlerts::build(const mcp::McpAlert& alert, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setObjectName(QStringLiteral("mcpAlert"));
    box->setIcon(QMessageBox::Information);
    box->setText(QString::fromStdString(alert.title));
    box->setInformativeText(QString::fromStdString(alert.informativeText));
    bool first = true;
    for (const auto& label : alert.buttons) {
        auto* button = box->addButton(QString::fromStdString(label), QMessageBox::ActionRole);
        button->setAccessibleDescription(descriptionOf(label));
        // The first button of each of these alerts leaves without acting ("Закрыть",
        // "Отмена"), so it is both the default and what Escape and the close box press.
        if (first) {
            box->setDefaultButton(button);
            box->setEscapeButton(button);
        }
        first = false;
    }
    BrandAlert::apply(*box);
    return box;
}

std::size_t QtMcpAlerts::run(const mcp::McpAlert& alert) {
    const auto box = build(alert, m_parent);
    box->exec();
    const auto buttons = box->buttons();
    const auto index = buttons.indexOf(box->clickedButton());
    return index < 0 ? alert.buttons.size() : static_cast<std::size_t>(index);
}

void QtMcpAlerts::runProgress(const mcp::McpAlert& alert) {
    const auto box = build(alert, m_parent);
    m_progress = box.get();
    // exec spins the event loop, so the check's completion arrives while the alert is up.
    box->exec();
    m_progress = nullptr;
}

void QtMcpAlerts::closeProgress() {
    if (!m_progress)
        return;
    m_progress->done(QMessageBox::Cancel);
    m_progress->hide();
}

} // namespace orvek::app
