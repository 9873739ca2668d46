#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "installer/Deployment.h"
#include "installer/InstallerCore.h"
#include "mcp/McpAlerts.h"
#include "mcp/McpCancellation.h"

namespace orvek::mcp {

/// The user's way into the MCP checks: an information alert with three choices, the chosen
/// check on a worker behind a cancellable progress alert, then the result in a third alert.
/// Holds nothing between two `show` calls.
class McpPresenter {
public:
    // The alerts' texts, shown as they are.
    static constexpr std::string_view kInfoTitle = "Орвек · OpenCode 0.6.0 — закрытый пилот";
    static constexpr std::string_view kInfoModels =
        "По умолчанию: Opus 5.0. Также доступны GPT 5.6 Sol, Sonnet 5, Opus 5.5, Sonnet 5.5, Astra и Sol 6.1.";
    static constexpr std::string_view kInfoChecks =
        "Модели, MCP и навыки проверяются отдельно. «Подключить через CLI» использует сохранённый доступ, проверяет initialize и tools/list и лишь затем изменяет MCP. Повторный вход и платная генерация не запускаются. Неизвестные настройки сохраняются без изменений.";
    static constexpr std::string_view kInfoBuild =
        "Предварительная сборка macOS без нотариального заверения Apple.";
    static constexpr std::string_view kCloseButton = "Закрыть";
    static constexpr std::string_view kCheckButton = "Проверить MCP";
    static constexpr std::string_view kConnectButton = "Подключить через CLI";
    static constexpr std::string_view kProgressTitle = "Проверяем MCP…";
    static constexpr std::string_view kProgressText =
        "Без генерации. Проверка может занять до минуты. Закрытие отменяет ожидающее изменение настроек.";
    static constexpr std::string_view kCancelButton = "Отмена";
    static constexpr std::string_view kResultTitle = "MCP — результат проверки";

    static constexpr std::string_view kSavedConfirmedPrefix =
        "Сохранённое подключение через CLI: initialize и tools/list подтверждены. Инструментов: ";
    static constexpr std::string_view kRemoteNote =
        "Проверка remote endpoint без OAuth-токена не подтверждает сохранённый доступ OpenCode.";
    static constexpr std::string_view kRepairedPrefix =
        "Подключение через CLI проверено и сохранено. Инструментов: ";

    /// The image the application puts on every alert when its resources hold it.
    static constexpr std::string_view kIconResource = "orvek-cat-hero-v1";
    static constexpr std::string_view kIconExtension = "png";

    /// Index of each button of the information alert, in its order.
    enum class Choice : std::size_t { close = 0, check = 1, connect = 2 };

    /// Queues a task and returns at once: on a worker, or on the interface thread's event loop.
    using Submit = std::function<void(std::function<void()>)>;
    /// Builds the engine of one `show` call.
    using EngineFactory = std::function<std::shared_ptr<const installer::InstallerCore>()>;

    /// `background` runs the check, `interface` brings its result back; the alerts outlive
    /// every `show` call.
    McpPresenter(McpAlerts& alerts, Submit background, Submit interface, EngineFactory engine);

    /// The engine the application uses: its resources, the user's home and configuration home.
    [[nodiscard]] static EngineFactory
    defaultEngine(std::filesystem::path resources,
                  installer::Deployment deployment = installer::Deployment::production());

    [[nodiscard]] static McpAlert infoAlert();
    [[nodiscard]] static McpAlert progressAlert();
    [[nodiscard]] static McpAlert resultAlert(const std::string& text);

    /// Runs the alerts on the interface thread; returns once the user has closed the last one.
    void show();

    /// The worker's result text for a choice of check or connect; blocking, never throws.
    [[nodiscard]] static std::string work(Choice choice, const installer::InstallerCore& core,
                                          McpCancellation& cancellation);

private:
    McpAlerts& m_alerts;
    Submit m_background;
    Submit m_interface;
    EngineFactory m_engine;
};

} // namespace orvek::mcp
