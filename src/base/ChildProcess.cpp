#include "base/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "base/FilePrimitives.h"
#include "base/PlatformError.h"
#include "base/ProcessEnvironment.h"

namespace orvek::base {

namespace {

constexpr const char* kLaunchOperation = "запустить программу";
constexpr const char* kPipeOperation = "создать канал для вывода программы";
constexpr const char* kWaitOperation = "дождаться завершения программы";
constexpr auto kStopGrace = std::chrono::milliseconds(100);

struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};

#ifndef __linux__
void setCloseOnExec(const UniqueFd& fd, const std::filesystem::path& executable) {
    const int flags = ::fcntl(fd.get(), F_GETFD);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFD, flags | FD_CLOEXEC) != 0)
        throwLastError(kPipeOperation, executable);
}
#endif

Pipe rawPipe(const std::filesystem::path& executable) {
    int ends[2] = {-1, -1};
#ifdef __linux__
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throwLastError(kPipeOperation, executable);
    Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
#else
    // No pipe2 here: a fork on another thread between these two calls could still inherit the
    // ends, which would only delay end-of-stream until that other child exits.
    if (::pipe(ends) != 0)
        throwLastError(kPipeOperation, executable);
    Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    setCloseOnExec(pipe.readEnd, executable);
    setCloseOnExec(pipe.writeEnd, executable);
#endif
    return pipe;
}

// With our own standard streams closed the child's end could land on 0-2, where the child's
// dup2 onto that number would keep FD_CLOEXEC or overwrite another pipe. Move it above them.
void moveAboveStandardStreams(UniqueFd& end, const std::filesystem::path& executable) {
    if (end.get() > STDERR_FILENO)
        return;
    const int moved = ::fcntl(end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        throwLastError(kPipeOperation, executable);
    end.reset(moved);
}

// A pipe for one of the child's outputs: our read end does not block.
Pipe makePipe(const std::filesystem::path& executable) {
    Pipe pipe = rawPipe(executable);
    moveAboveStandardStreams(pipe.writeEnd, executable);
    const int flags = ::fcntl(pipe.readEnd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(pipe.readEnd.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        throwLastError(kPipeOperation, executable);
    return pipe;
}

// A pipe for the child's input: the child reads it blocking, as programs expect of stdin.
Pipe makeInputPipe(const std::filesystem::path& executable) {
    Pipe pipe = rawPipe(executable);
    moveAboveStandardStreams(pipe.readEnd, executable);
#ifdef F_SETNOSIGPIPE
    // Where the system offers it, a write after the child is gone fails with EPIPE and no signal.
    if (::fcntl(pipe.writeEnd.get(), F_SETNOSIGPIPE, 1) != 0)
        throwLastError(kPipeOperation, executable);
#endif
    return pipe;
}

class SpawnFileActions {
public:
    explicit SpawnFileActions(const std::filesystem::path& executable) {
        if (const int error = posix_spawn_file_actions_init(&m_actions); error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    void duplicate(int from, int to, const std::filesystem::path& executable) {
        if (const int error = posix_spawn_file_actions_adddup2(&m_actions, from, to); error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
    void openNullDevice(int to, const std::filesystem::path& executable) {
        if (const int error =
                posix_spawn_file_actions_addopen(&m_actions, to, "/dev/null", O_WRONLY, 0);
            error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
    void changeDirectory(const std::filesystem::path& folder,
                         const std::filesystem::path& executable) {
        if (const int error = posix_spawn_file_actions_addchdir_np(&m_actions, folder.c_str());
            error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
    [[nodiscard]] const posix_spawn_file_actions_t* get() const noexcept { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
};

class SpawnAttributes {
public:
    explicit SpawnAttributes(const std::filesystem::path& executable) {
        if (const int error = posix_spawnattr_init(&m_attributes); error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    [[nodiscard]] posix_spawnattr_t* get() noexcept { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes{};
};

/// Own process group (so the group can be stopped as one), no blocked signals, and default
/// handling for the signals a caller might ignore: ignored dispositions survive exec and would
/// leave the child deaf to SIGTERM or blind to SIGPIPE.
void configure(SpawnAttributes& attributes, const std::filesystem::path& executable) {
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&defaults, signal);
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    for (const int error : {posix_spawnattr_setpgroup(attributes.get(), 0),
                            posix_spawnattr_setsigmask(attributes.get(), &noSignals),
                            posix_spawnattr_setsigdefault(attributes.get(), &defaults),
                            posix_spawnattr_setflags(attributes.get(), flags)}) {
        if (error != 0)
            throw PlatformError(error, kLaunchOperation, executable);
    }
}

/// argv or envp for posix_spawn: pointers into `strings`, which must outlive the result.
std::vector<char*> nullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess
ChildProcess::start(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::optional<std::map<std::string, std::string>>& environment) {
    return start(executable, arguments, environment, ChildOptions{});
}

ChildProcess
ChildProcess::start(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::optional<std::map<std::string, std::string>>& environment,
                    const ChildOptions& options) {
    Pipe output = makePipe(executable);
    std::optional<Pipe> error;
    if (!options.discardErrors)
        error = makePipe(executable);
    std::optional<Pipe> input;
    if (options.pipeInput)
        input = makeInputPipe(executable);

    SpawnFileActions actions(executable);
    if (input)
        actions.duplicate(input->readEnd.get(), STDIN_FILENO, executable);
    actions.duplicate(output.writeEnd.get(), STDOUT_FILENO, executable);
    if (error)
        actions.duplicate(error->writeEnd.get(), STDERR_FILENO, executable);
    else
        actions.openNullDevice(STDERR_FILENO, executable);
    if (options.workingDirectory)
        actions.changeDirectory(*options.workingDirectory, executable);
    SpawnAttributes attributes(executable);
    configure(attributes, executable);

    std::vector<std::string> argumentStrings;
    argumentStrings.reserve(arguments.size() + 1);
    argumentStrings.push_back(executable.string());
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = nullTerminated(argumentStrings);

    std::vector<std::string> environmentStrings;
    std::vector<char*> envp;
    if (environment) {
        environmentStrings.reserve(environment->size());
        for (const auto& [name, value] : *environment)
            environmentStrings.push_back(name + "=" + value);
        envp = nullTerminated(environmentStrings);
    }

    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(),
                                       argv.data(), environment ? envp.data() : environmentBlock());
    if (spawnError != 0)
        throw PlatformError(spawnError, kLaunchOperation, executable);
    // The child's ends now belong to the child alone; ours close here so that end-of-stream
    // arrives as soon as the child (and anything it started) lets go of them.
    return ChildProcess(pid, executable, std::move(output.readEnd),
                        error ? std::move(error->readEnd) : UniqueFd(),
                        input ? std::move(input->writeEnd) : UniqueFd());
}

ChildProcess::ChildProcess(pid_t pid, std::filesystem::path executable, UniqueFd standardOutput,
                           UniqueFd standardError, UniqueFd standardInput) noexcept
    : m_pid(pid), m_executable(std::move(executable)), m_standardOutput(std::move(standardOutput)),
      m_standardError(std::move(standardError)), m_standardInput(std::move(standardInput)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_executable(std::move(other.m_executable)),
      m_waitStatus(std::exchange(other.m_waitStatus, std::nullopt)),
      m_reaped(std::exchange(other.m_reaped, false)),
      m_standardOutput(std::move(other.m_standardOutput)),
      m_standardError(std::move(other.m_standardError)),
      m_standardInput(std::move(other.m_standardInput)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        m_pid = std::exchange(other.m_pid, -1);
        m_executable = std::move(other.m_executable);
        m_waitStatus = std::exchange(other.m_waitStatus, std::nullopt);
        m_reaped = std::exchange(other.m_reaped, false);
        m_standardOutput = std::move(other.m_standardOutput);
        m_standardError = std::move(other.m_standardError);
        m_standardInput = std::move(other.m_standardInput);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    stop();
}

int ChildProcess::reap(bool block) noexcept {
    if (m_reaped)
        return 0;
    int status = 0;
    pid_t result = -1;
    do {
        result = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return EAGAIN;
    m_reaped = true;
    if (result < 0)
        return errno;
    m_waitStatus = status;
    return 0;
}

bool ChildProcess::exited() {
    const int error = reap(false);
    if (error == EAGAIN)
        return false;
    if (error != 0 || !m_waitStatus)
        throw PlatformError(error != 0 ? error : ECHILD, kWaitOperation, m_executable);
    return true;
}

int ChildProcess::wait() {
    const int error = reap(true);
    if (error != 0 || !m_waitStatus)
        throw PlatformError(error != 0 ? error : ECHILD, kWaitOperation, m_executable);
    const int status = *m_waitStatus;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return status;
}

bool ChildProcess::groupEmpty() const noexcept {
    return ::kill(-m_pid, 0) != 0 && errno == ESRCH;
}

void ChildProcess::signalGroup(int signal) const noexcept {
    ::kill(-m_pid, signal);
    // Covers a child that moved itself to another group; its own pid is still ours to signal.
    if (!m_reaped)
        ::kill(m_pid, signal);
}

void ChildProcess::stop() noexcept {
    // Once the child is reaped its pid, and with it the group id, may be handed to a stranger.
    // Until then even a zombie child keeps both reserved, which is why `exited` is only asked
    // after both pipes have closed. Descendants that called setsid() are out of reach anyway.
    if (m_pid <= 0 || m_reaped)
        return;
    signalGroup(SIGTERM);
    const auto graceEnd = std::chrono::steady_clock::now() + kStopGrace;
    bool groupGone = false;
    while (!groupGone && std::chrono::steady_clock::now() < graceEnd) {
        // A zombie still counts as a member, so reap the child before asking about the group.
        if (reap(false) != EAGAIN)
            groupGone = groupEmpty();
        if (!groupGone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!groupGone)
        signalGroup(SIGKILL);
    (void)reap(true);
}

void ChildProcess::kill() noexcept {
    if (m_pid <= 0 || m_reaped)
        return;
    signalGroup(SIGKILL);
    (void)reap(true);
}

void ChildProcess::writeInput(std::string_view bytes) {
    constexpr const char* kWriteOperation = "передать данные программе";
    if (!m_standardInput)
        throw PlatformError(EBADF, kWriteOperation, m_executable);
#ifdef F_SETNOSIGPIPE
    writeAll(m_standardInput.get(), bytes, kWriteOperation, m_executable);
#else
    // A child that stopped reading would raise SIGPIPE, which ends a whole program by default.
    // Blocked on this thread, a SIGPIPE caused here stays pending and is taken back below.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    sigemptyset(&pending);
    const bool alreadyPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    int failure = 0;
    try {
        writeAll(m_standardInput.get(), bytes, kWriteOperation, m_executable);
    } catch (const PlatformError& error) {
        failure = error.errnoValue();
    }
    if (failure == EPIPE && !alreadyPending) {
        const timespec noWait{};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failure != 0)
        throw PlatformError(failure, kWriteOperation, m_executable);
#endif
}

} // namespace orvek::base
