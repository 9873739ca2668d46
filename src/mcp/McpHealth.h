#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "mcp/McpEndpoint.h"

/// Checks without any credentials whether the service's MCP endpoint answers the handshake over
/// streamable HTTP and lists at least one tool. Never calls a tool, never starts generation.
namespace orvek::mcp::McpHealth {

// The result lines, shown to the user as they are.
inline constexpr std::string_view kConfirmedPrefix =
    "MCP: initialize и tools/list подтверждены. Доступно инструментов: ";
inline constexpr std::string_view kConfirmedSuffix = ". Генерация не выполнялась.";
inline constexpr std::string_view kTimedOut =
    "MCP: время проверки истекло. Готовность инструментов не подтверждена.";
inline constexpr std::string_view kUnavailable = "MCP: доступность инструментов не подтверждена.";
inline constexpr std::string_view kSignInRequired =
    "MCP: сервер требует вход. Проверка выполнена без OAuth-токена: она не определяет действительность сохранённой авторизации OpenCode.";
inline constexpr std::string_view kInvalid = "MCP: ответ не прошёл проверку.";
inline constexpr std::string_view kInitializeUnconfirmed = "MCP: initialize не подтверждён.";
inline constexpr std::string_view kNoTools = "MCP: tools/list не вернул доступных инструментов.";

/// The whole probe may take this long, all three requests together.
inline constexpr auto kDeadline = std::chrono::seconds(20);

/// Runs "initialize", "notifications/initialized" and "tools/list" against `endpoint` and
/// returns the one result line; blocks up to 20 seconds. Never throws (but std::bad_alloc).
[[nodiscard]] std::string probe(const McpEndpoint& endpoint);

/// `probe` with another overall deadline; only tests use it.
[[nodiscard]] std::string probeForTesting(const McpEndpoint& endpoint,
                                          std::chrono::milliseconds deadline);

/// True for the success line, whatever the tool count.
[[nodiscard]] bool confirmed(std::string_view result);

} // namespace orvek::mcp::McpHealth
