#include "mcp/McpStdioExchange.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "base/Json.h"
#include "config/ConfigReader.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpResponse.h"

namespace orvek::mcp {

namespace {

constexpr std::size_t kChunkSize = 8192;
constexpr std::size_t kBufferLimit = 2097152;
constexpr auto kPollInterval = std::chrono::milliseconds(10);

[[noreturn]] void unsupported() {
    throw config::ConfigReader::failure();
}

base::JsonError unparsable(std::size_t offset) {
    return base::JsonError(
        "Ответ MCP содержит некорректный JSON (байт " + std::to_string(offset) + ").", offset);
}

} // namespace

McpStdioExchange::McpStdioExchange(const std::filesystem::path& executable,
                                   const std::vector<std::string>& arguments,
                                   const base::Environment& environment,
                                   const std::optional<std::filesystem::path>& workingDirectory,
                                   Clock::time_point deadline)
    : m_child(base::ChildProcess::start(executable, arguments, environment,
                                        base::ChildOptions{true, true, workingDirectory})),
      m_deadline(deadline) {}

McpStdioExchange::~McpStdioExchange() {
    // A server that answered stays alive waiting for more; it never outlives the check.
    m_child.kill();
}

void McpStdioExchange::send(std::string_view line) {
    std::string bytes(line);
    bytes.push_back('\n');
    m_child.writeInput(bytes);
}

std::optional<base::Bytes> McpStdioExchange::takeLine() {
    const auto end = m_buffer.find('\n');
    if (end == base::Bytes::npos)
        return std::nullopt;
    auto line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return line;
}

bool McpStdioExchange::readSome() {
    std::array<char, kChunkSize> chunk;
    const ssize_t count = ::read(m_child.standardOutput().get(), chunk.data(), chunk.size());
    if (count == 0)
        unsupported();
    if (count < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return false;
        unsupported();
    }
    m_buffer.append(chunk.data(), static_cast<std::size_t>(count));
    return true;
}

base::JsonValue McpStdioExchange::result(std::int64_t id, const McpCancellation& cancellation) {
    if (Clock::now() >= m_deadline)
        throw LocalMcp::timedOut();
    // Notifications skipped while waiting still count against the bound, so that a server
    // cannot make the wizard read without limit by sending nothing but notifications.
    std::size_t skipped = 0;
    for (;;) {
        if (cancellation.cancelled())
            throw LocalMcp::timedOut();
        if (auto line = takeLine()) {
            auto message = base::decodeJson(*line, unparsable);
            if (McpResponse::isNotification(message)) {
                skipped += line->size() + 1;
                if (skipped > kBufferLimit)
                    unsupported();
                continue;
            }
            const auto messageId = message.is_object() ? message.find("id") : message.end();
            if (message.empty() || messageId == message.end() || !messageId->is_number_integer() ||
                messageId->get<std::int64_t>() != id || message.contains("error"))
                unsupported();
            const auto found = message.find("result");
            if (found == message.end() || !found->is_object())
                unsupported();
            return *found;
        }
        const bool arrived = readSome();
        if (skipped + m_buffer.size() > kBufferLimit)
            unsupported();
        if (!arrived) {
            // Waits for output instead of sleeping blindly; either way the next pass comes
            // within 10 ms, to notice cancellation.
            pollfd waiting{m_child.standardOutput().get(), POLLIN, 0};
            (void)::poll(&waiting, 1, static_cast<int>(kPollInterval.count()));
        }
        if (Clock::now() >= m_deadline)
            throw LocalMcp::timedOut();
    }
}

} // namespace orvek::mcp
