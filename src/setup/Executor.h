#pragma once

#include <functional>

namespace orvek::setup {

/// Somewhere to run work later: the main thread's event loop, or a pool of workers.
/// Tasks submitted from one thread run in the order they were submitted.
class Executor {
public:
    using Task = std::function<void()>;

    virtual ~Executor() = default;
    /// Queues the task and returns at once.
    virtual void post(Task task) = 0;
};

} // namespace orvek::setup
