#pragma once

#include <mutex>

namespace orvek::mcp {

/// Lets the interface thread stop a check the worker is running. Set once, never cleared;
/// shared by both threads for one presentation of the MCP alerts.
class McpCancellation {
public:
    McpCancellation() = default;
    McpCancellation(const McpCancellation&) = delete;
    McpCancellation& operator=(const McpCancellation&) = delete;

    /// Marks the check as given up; any thread, any number of times.
    void cancel();
    /// Whether `cancel` has been called.
    [[nodiscard]] bool cancelled() const;

private:
    mutable std::mutex m_lock;
    bool m_stopped = false;
};

} // namespace orvek::mcp
