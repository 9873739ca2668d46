#pragma once

#include <memory>

#include <QMessageBox>
#include <QPointer>

#include "mcp/McpAlerts.h"

class QWidget;

namespace orvek::app {

/// The MCP checks' alerts as the wizard's message boxes; the checks themselves stay in the MCP
/// library.
class QtMcpAlerts final : public mcp::McpAlerts {
public:
    /// Alerts open over `parent` (may be null).
    explicit QtMcpAlerts(QWidget* parent);

    /// The alert, built but not shown, with the brand art and the light look.
    [[nodiscard]] static std::unique_ptr<QMessageBox> build(const mcp::McpAlert& alert,
                                                            QWidget* parent);

    std::size_t run(const mcp::McpAlert& alert) override;
    void runProgress(const mcp::McpAlert& alert) override;
    void closeProgress() override;

private:
    QPointer<QWidget> m_parent;
    // The progress alert while it runs, so the check's completion can end it.
    QPointer<QMessageBox> m_progress;
};

} // namespace orvek::app
