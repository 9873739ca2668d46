#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"

namespace orvek::base {

/// A started program in a process group of its own, with its standard output and standard error
/// on pipes whose read ends (non-blocking) it owns. If the child has not been reaped when this
/// object goes away, the whole group is stopped first, so no child outlives an error.
class ChildProcess {
public:
    /// Starts `executable` (no PATH search) with `arguments` after argv[0]. Without `environment`
    /// the child inherits ours; with it, that map is the child's whole environment. Standard input
    /// is shared with us. Throws PlatformError when the pipes cannot be made or the program
    /// cannot start.
    [[nodiscard]] static ChildProcess
    start(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
          const std::optional<std::map<std::string, std::string>>& environment);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    /// The child's process id, which is also the id of its process group.
    [[nodiscard]] pid_t pid() const noexcept { return m_pid; }

    /// Read ends of the child's standard output and standard error; reset them to close early.
    [[nodiscard]] UniqueFd& standardOutput() noexcept { return m_standardOutput; }
    [[nodiscard]] UniqueFd& standardError() noexcept { return m_standardError; }

    /// True once the child has exited; reaps it without blocking. Ask only once the pipes have
    /// closed: reaping gives up the group id that `stop` needs. Throws PlatformError if the child
    /// cannot be waited for (for instance when SIGCHLD is ignored and it was auto-reaped).
    [[nodiscard]] bool exited();

    /// Blocks until the child exits. Returns its exit code, or the signal number that ended it.
    /// Throws PlatformError like `exited`.
    [[nodiscard]] int wait();

    /// After `wait`: whether a signal ended the child rather than an exit.
    [[nodiscard]] bool signaled() const noexcept {
        return m_waitStatus && WIFSIGNALED(*m_waitStatus);
    }

    /// Stops every process still in the child's group: SIGTERM, up to 0.1 s of grace (cut short
    /// once the group is empty), then SIGKILL; reaps the child before returning. Does nothing
    /// once the child has been reaped, when the group id may already belong to someone else.
    void stop() noexcept;

private:
    ChildProcess(pid_t pid, std::filesystem::path executable, UniqueFd standardOutput,
                 UniqueFd standardError) noexcept;

    /// waitpid once, blocking or not: 0 once reaped, EAGAIN while the child runs, else the errno.
    int reap(bool block) noexcept;
    [[nodiscard]] bool groupEmpty() const noexcept;
    void signalGroup(int signal) const noexcept;

    pid_t m_pid = -1;
    std::filesystem::path m_executable;
    std::optional<int> m_waitStatus;
    bool m_reaped = false;
    UniqueFd m_standardOutput;
    UniqueFd m_standardError;
};

} // namespace orvek::base
