#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/JsonValue.h"

/// Reading MCP answers, shared by the remote and the local check. Pure; never throws beyond
/// allocation failures.
namespace orvek::mcp::McpResponse {

/// The JSON-RPC response object in an HTTP answer's body: the body itself when it is a JSON
/// object, otherwise the last "data:" line of an event stream whose payload is an object with
/// an "id". Absent when there is none (or the body is not UTF-8).
[[nodiscard]] std::optional<base::JsonValue> responseObject(std::string_view body);

/// The number of tools when "tools" of a tools/list result is a non-empty array of non-empty
/// objects that each have a string "name"; absent otherwise.
[[nodiscard]] std::optional<std::size_t> toolCount(const base::JsonValue& result);

/// True for a message a server may send at any time: an object with "jsonrpc" "2.0", a string
/// "method" and no "id".
[[nodiscard]] bool isNotification(const base::JsonValue& message);

} // namespace orvek::mcp::McpResponse
