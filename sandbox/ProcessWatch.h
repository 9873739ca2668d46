#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace orvek::sandbox {

/// Looks at the process table every few milliseconds on its own thread and appends the argument
/// list of every descendant of this process it sees, each time it changes (as a child execs),
/// to a log: "PID: ARGUMENTS", one a line. Catches what the programs the wizard starts start in
/// turn; a process that lives for less than a look may be missed. Never shipped.
class ProcessWatch {
public:
    explicit ProcessWatch(std::filesystem::path log);
    /// Stops looking and joins the thread.
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

private:
    void watch();

    std::filesystem::path m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace orvek::sandbox
