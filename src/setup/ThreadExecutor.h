#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "setup/Executor.h"

namespace orvek::setup {

/// A small pool of worker threads for long, blocking operations. Destruction waits for the
/// running tasks and drops the queued ones.
class ThreadExecutor final : public Executor {
public:
    explicit ThreadExecutor(unsigned threadCount = 2);
    ~ThreadExecutor() override;
    ThreadExecutor(const ThreadExecutor&) = delete;
    ThreadExecutor& operator=(const ThreadExecutor&) = delete;

    void post(Task task) override;

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace orvek::setup
