#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/UniqueFd.h"

namespace orvek::base {

/// How a child's standard streams and working folder are set up beyond the defaults of `start`.
struct ChildOptions {
    /// Standard input on a pipe whose write end the child object owns; otherwise shared with us.
    bool pipeInput = false;
    /// Standard error to the null device instead of a pipe.
    bool discardErrors = false;
    /// The child's working folder; ours when absent.
    std::optional<std::filesystem::path> workingDirectory;
};

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
    /// `start` with the streams and working folder of `options`; throws PlatformError.
    [[nodiscard]] static ChildProcess
    start(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
          const std::optional<std::map<std::string, std::string>>& environment,
          const ChildOptions& options);

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
    /// Write end of the child's standard input (with `pipeInput` only); reset it to close.
    [[nodiscard]] UniqueFd& standardInput() noexcept { return m_standardInput; }

    /// Writes all of `bytes` to the child's standard input without ever raising SIGPIPE in this
    /// process. Throws PlatformError (EPIPE once the child stopped reading).
    void writeInput(std::string_view bytes);

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

    /// Sends SIGKILL to every process still in the child's group at once, then reaps the child.
    /// Does nothing once the child has been reaped, like `stop`.
    void kill() noexcept;

private:
    ChildProcess(pid_t pid, std::filesystem::path executable, UniqueFd standardOutput,
                 UniqueFd standardError, UniqueFd standardInput) noexcept;

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
    UniqueFd m_standardInput;
};

} // namespace orvek::base
