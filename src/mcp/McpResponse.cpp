#include "mcp/McpResponse.h"

#include "base/Json.h"
#include "config/ConfigReader.h"

namespace orvek::mcp::McpResponse {

namespace {

using base::JsonValue;

std::optional<JsonValue> parsedObject(std::string_view text) {
    // No exceptions: a malformed payload is simply not a response.
    auto value = JsonValue::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<JsonValue> responseObject(std::string_view body) {
    if (auto whole = parsedObject(body))
        return whole;
    if (config::ConfigReader::invalidUtf8(body))
        return std::nullopt;
    // Only a bare line feed separates lines; a carriage return before it is left to the JSON
    // parser, which reads it as white space.
    std::optional<JsonValue> candidate;
    constexpr std::string_view kData = "data:";
    while (!body.empty()) {
        const auto end = body.find('\n');
        const auto line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.starts_with(kData))
            continue;
        if (auto payload = parsedObject(line.substr(kData.size()));
            payload && payload->contains("id"))
            candidate = std::move(payload);
    }
    return candidate;
}

std::optional<std::size_t> toolCount(const JsonValue& result) {
    if (!result.is_object())
        return std::nullopt;
    const auto tools = result.find("tools");
    if (tools == result.end() || !tools->is_array() || tools->empty())
        return std::nullopt;
    for (const auto& tool : *tools) {
        if (!tool.is_object() || tool.empty())
            return std::nullopt;
        const auto name = tool.find("name");
        if (name == tool.end() || !name->is_string())
            return std::nullopt;
    }
    return tools->size();
}

bool isNotification(const JsonValue& message) {
    if (!message.is_object() || message.contains("id"))
        return false;
    const auto version = message.find("jsonrpc");
    const auto method = message.find("method");
    return version != message.end() && *version == "2.0" && method != message.end() &&
           method->is_string();
}

} // namespace orvek::mcp::McpResponse
