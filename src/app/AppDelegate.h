#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "app/LaunchOptions.h"
#include "setup/SetupModel.h"

class QWidget;

namespace orvek::mcp {
class McpPresenter;
}
namespace orvek::setup {
class ThreadExecutor;
}

namespace orvek::app {

class MainWindow;
class QtMcpAlerts;
class SkillsSheetPresenter;

/// Builds the application once it has launched: the main window bound to the one model, its
/// close guard, and in render mode the screen drawn into a PNG file before the process ends.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    /// What the delegate hands to the platform; tests and the sandbox replace them.
    struct Hooks {
        /// Ends the process with `status`; `message` is empty on success. By default prints the
        /// message as one line on stderr and leaves the event loop.
        std::function<void(int status, const QString& message)> finish;
        /// Shows the busy alert over `window` and returns when it is dismissed.
        std::function<void(QWidget* window)> showBusyAlert;
        /// Runs `task` from the event loop once `delayMs` have passed; by default a single-shot
        /// timer. The render mode draws a window screen through it.
        std::function<void(int delayMs, std::function<void()> task)> later;
    };

    AppDelegate(std::shared_ptr<setup::SetupModel> model, LaunchOptions options, Hooks hooks = {});
    ~AppDelegate() override;

    /// Builds everything; a second call finds the window and returns at once.
    void applicationDidFinishLaunching();
    /// Whether the main window may close: not while the setup or the skills run.
    [[nodiscard]] bool windowShouldClose();
    [[nodiscard]] static constexpr bool applicationShouldTerminateAfterLastWindowClosed() {
        return true;
    }

    [[nodiscard]] MainWindow* window() const noexcept { return m_window.get(); }
    /// Shows the skills sheet over the window; made with the window.
    [[nodiscard]] SkillsSheetPresenter* skillsPresenter() const noexcept {
        return m_skillsPresenter.get();
    }
    [[nodiscard]] const std::shared_ptr<setup::SetupModel>& model() const noexcept {
        return m_model;
    }

    /// The render mode waits this long after showing a window screen, so it has laid out.
    static constexpr int kRenderDelayMs = 1000;

private:
    void renderAlert(const QString& screen, const QString& output);
    /// Opens the MCP checks from the window's details button.
    void connectDetails();
    void renderWindow();
    void finish(int status, const QString& message = {});

    std::shared_ptr<setup::SetupModel> m_model;
    LaunchOptions m_options;
    Hooks m_hooks;
    std::unique_ptr<MainWindow> m_window;
    // After the window, so it goes first and takes its sheet with it.
    std::unique_ptr<SkillsSheetPresenter> m_skillsPresenter;
    // The MCP checks: the worker goes first, finishing a check whose completion then finds no
    // event loop to run in, before the presenter and the alerts it would have used.
    std::unique_ptr<QtMcpAlerts> m_mcpAlerts;
    std::unique_ptr<mcp::McpPresenter> m_mcpPresenter;
    std::unique_ptr<setup::ThreadExecutor> m_mcpWorker;
    bool m_launched = false;
};

} // namespace orvek::app
