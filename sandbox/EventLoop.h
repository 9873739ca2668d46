#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "setup/Executor.h"

namespace orvek::sandbox {

/// The console's stand-in for the window system's main thread: tasks posted from any thread
/// run on the thread that calls `runUntil`, in posting order.
class EventLoop final : public setup::Executor {
public:
    void post(Task task) override {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

    /// Runs tasks until `done` holds after one of them; false if `limit` passed first.
    bool runUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            Task task;
            {
                std::unique_lock lock(m_mutex);
                if (!m_wake.wait_until(lock, deadline, [this] { return !m_tasks.empty(); }))
                    return false;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
};

} // namespace orvek::sandbox
