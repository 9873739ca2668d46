// Checks the finder of the JSON-RPC response in an MCP server's HTTP answer: whatever the body,
// it never fails, and what it finds is the body itself when that is a JSON object, or else an
// object with an "id" that one "data:" line of the body carries.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "base/Json.h"
#include "mcp/McpResponse.h"

namespace {

using orvek::base::JsonValue;
namespace McpResponse = orvek::mcp::McpResponse;

void check(bool condition, const char* what, std::string_view input) {
    if (condition)
        return;
    std::cerr << "mcp response fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

// The payload of the last "data:" line that is an object with an "id", as the rule reads it.
bool isLastDataLine(std::string_view body, const JsonValue& found) {
    std::optional<JsonValue> last;
    while (!body.empty()) {
        const auto end = body.find('\n');
        const auto line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.starts_with("data:"))
            continue;
        auto value = JsonValue::parse(line.substr(5), nullptr, false);
        if (!value.is_discarded() && value.is_object() && value.contains("id"))
            last = std::move(value);
    }
    return last && *last == found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto found = McpResponse::responseObject(input);
    if (found) {
        check(found->is_object(), "the response is no object", input);
        const auto whole = JsonValue::parse(input, nullptr, false);
        if (!whole.is_discarded() && whole.is_object())
            check(*found == whole, "a JSON object body is not the response", input);
        else
            check(isLastDataLine(input, *found), "the response is not the last data line", input);
        // Judging its tools never fails either, whatever the result holds.
        if (const auto result = found->find("result"); result != found->end()) {
            const auto count = McpResponse::toolCount(*result);
            check(!count || *count > 0, "an empty tool list was counted", input);
        }
    }
    return 0;
}
