#include "mcp/McpCancellation.h"

namespace orvek::mcp {

void McpCancellation::cancel() {
    const std::lock_guard lock(m_lock);
    m_stopped = true;
}

bool McpCancellation::cancelled() const {
    const std::lock_guard lock(m_lock);
    return m_stopped;
}

} // namespace orvek::mcp
