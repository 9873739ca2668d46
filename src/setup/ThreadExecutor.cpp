#include "setup/ThreadExecutor.h"

#include <utility>

namespace orvek::setup {

ThreadExecutor::ThreadExecutor(unsigned threadCount) {
    m_threads.reserve(threadCount);
    for (unsigned i = 0; i < threadCount; ++i)
        m_threads.emplace_back([this] { work(); });
}

ThreadExecutor::~ThreadExecutor() {
    {
        // Queued tasks are released before waiting for the running ones, and outside the
        // lock, so what they hold does not stay alive behind long blocking work.
        std::deque<Task> dropped;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            dropped.swap(m_tasks);
        }
    }
    m_wake.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

void ThreadExecutor::post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void ThreadExecutor::work() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace orvek::setup
