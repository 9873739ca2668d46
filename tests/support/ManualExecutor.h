#pragma once

#include <cstddef>
#include <deque>
#include <utility>

#include "setup/Executor.h"

namespace orvek::test {

/// Holds posted tasks until the test runs them, so both the main thread and the worker are
/// driven by hand, one step at a time.
class ManualExecutor final : public setup::Executor {
public:
    void post(Task task) override { m_tasks.push_back(std::move(task)); }

    [[nodiscard]] std::size_t pending() const noexcept { return m_tasks.size(); }

    /// Runs the oldest task; false when there was none.
    bool runOne() {
        if (m_tasks.empty())
            return false;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        task();
        return true;
    }

    /// Runs tasks, including those posted meanwhile, until none is left; returns how many ran.
    std::size_t runAll() {
        std::size_t count = 0;
        while (runOne())
            ++count;
        return count;
    }

private:
    std::deque<Task> m_tasks;
};

} // namespace orvek::test
