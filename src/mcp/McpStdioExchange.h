#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.h"
#include "base/ChildProcess.h"
#include "base/JsonError.h"
#include "base/JsonValue.h"
#include "base/ProcessRunner.h"
#include "mcp/McpCancellation.h"

namespace orvek::mcp {

/// One stdio MCP server as a child process in a group of its own, with standard error on the
/// null device, and the lines it answers. Whatever way the exchange ends, the child's group is
/// killed and the child reaped before this object is gone.
class McpStdioExchange {
public:
    using Clock = std::chrono::steady_clock;

    /// Starts the server; `environment` is its whole environment. The deadline covers every
    /// wait of the exchange. Throws PlatformError when it cannot start.
    McpStdioExchange(const std::filesystem::path& executable,
                     const std::vector<std::string>& arguments,
                     const base::Environment& environment,
                     const std::optional<std::filesystem::path>& workingDirectory,
                     Clock::time_point deadline);
    ~McpStdioExchange();
    McpStdioExchange(const McpStdioExchange&) = delete;
    McpStdioExchange& operator=(const McpStdioExchange&) = delete;

    /// Writes one line and a line feed to the server; throws PlatformError.
    void send(std::string_view line);

    /// Waits for the response with `id` and returns its "result" object. Notifications before
    /// it are skipped; any other line first, an error response, the end of the output, a read
    /// error or 2 MiB without a response throw CONFIGURATION_UNSUPPORTED; an unparsable line
    /// throws base::JsonError; cancellation or the deadline throw the time-out failure.
    [[nodiscard]] base::JsonValue result(std::int64_t id, const McpCancellation& cancellation);

private:
    /// The next complete line, taken out of the buffer; absent when none has arrived yet.
    std::optional<base::Bytes> takeLine();
    /// One non-blocking read into the buffer; true when bytes came.
    bool readSome();

    base::ChildProcess m_child;
    Clock::time_point m_deadline;
    base::Bytes m_buffer;
};

} // namespace orvek::mcp
