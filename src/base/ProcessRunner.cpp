#include "base/ProcessRunner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <thread>

#include "base/ChildProcess.h"
#include "base/InstallerFailure.h"
#include "base/UniqueFd.h"

namespace orvek::base {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunkSize = 8192;
// Both streams together: a helper that floods one stream must not slip past through the other.
constexpr std::size_t kOutputLimit = 1048576;
constexpr auto kLongestWait = std::chrono::milliseconds(10);
constexpr auto kFirstNap = std::chrono::microseconds(20);

struct Stream {
    UniqueFd& readEnd;
    Bytes& buffer;
};

/// The failure is raised only after the child and its group are gone.
[[noreturn]] void stopAndFail(ChildProcess& child, const char* message) {
    child.stop();
    throw InstallerFailure(message);
}

Clock::duration timeoutDuration(double seconds) {
    // NaN and negative timeouts leave no time at all; the upper cap (about 31 years) keeps the
    // clock arithmetic from overflowing for absurd values.
    if (!(seconds > 0))
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 1e9)));
}

/// Reads one chunk; closes the stream at end-of-stream. Fails on read errors and on output past
/// the limit.
void readChunk(ChildProcess& child, Stream& stream, std::size_t& total) {
    std::array<char, kChunkSize> chunk;
    const ssize_t count = ::read(stream.readEnd.get(), chunk.data(), chunk.size());
    if (count == 0) {
        stream.readEnd.reset();
        return;
    }
    if (count < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        stopAndFail(child, "Не удалось прочитать ответ компонента.");
    }
    const auto size = static_cast<std::size_t>(count);
    if (total + size > kOutputLimit)
        stopAndFail(child, "Компонент вернул слишком большой ответ.");
    stream.buffer.append(chunk.data(), size);
    total += size;
}

} // namespace

ProcessResult run(const std::filesystem::path& executable,
                  const std::vector<std::string>& arguments,
                  const std::optional<Environment>& environment, double timeoutSeconds) {
    return run(executable, arguments, environment, timeoutSeconds, Heartbeat{});
}

ProcessResult run(const std::filesystem::path& executable,
                  const std::vector<std::string>& arguments,
                  const std::optional<Environment>& environment, double timeoutSeconds,
                  const Heartbeat& heartbeat) {
    ChildProcess child = ChildProcess::start(executable, arguments, environment);
    const auto deadline = Clock::now() + timeoutDuration(timeoutSeconds);

    ProcessResult result;
    std::array<Stream, 2> streams{{{child.standardOutput(), result.standardOutput},
                                   {child.standardError(), result.standardError}}};
    std::size_t total = 0;
    auto nap = kFirstNap;
    auto nextBeat = Clock::now() + heartbeat.interval;
    for (;;) {
        // The child is only reaped once both pipes have closed: a grandchild holding them keeps
        // the run going until the deadline, and an unreaped child keeps its group id ours.
        const bool open = streams[0].readEnd || streams[1].readEnd;
        if (!open && child.exited())
            break;

        const auto now = Clock::now();
        if (now >= deadline)
            stopAndFail(child, "Компонент не ответил вовремя. Повторите действие.");
        if (heartbeat.beat && now >= nextBeat) {
            heartbeat.beat();
            nextBeat = now + heartbeat.interval;
        }

        std::array<pollfd, 2> waiting{};
        nfds_t waitingCount = 0;
        for (Stream& stream : streams) {
            if (stream.readEnd)
                readChunk(child, stream, total);
            if (stream.readEnd)
                waiting[waitingCount++] = pollfd{stream.readEnd.get(), POLLIN, 0};
        }

        const auto remaining = deadline - Clock::now();
        if (waitingCount > 0) {
            const auto wait = std::clamp(std::chrono::floor<std::chrono::milliseconds>(remaining),
                                         std::chrono::milliseconds::zero(), kLongestWait);
            // Errors (EINTR) only end this pass early; the next pass reads and checks again.
            ::poll(waiting.data(), waitingCount, static_cast<int>(wait.count()));
        } else {
            // Both pipes are closed and the child is still exiting, usually for microseconds
            // only; nap briefly and back off so that a child that closed its output early and
            // keeps running costs no more than a pass every 10 ms.
            std::this_thread::sleep_for(std::min<Clock::duration>({nap, remaining, kLongestWait}));
            nap = std::min<std::chrono::microseconds>(nap * 2, kLongestWait);
        }
    }
    result.status = child.wait();
    result.signaled = child.signaled();
    return result;
}

void require(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
             const std::string& message, double timeoutSeconds) {
    if (run(executable, arguments, std::nullopt, timeoutSeconds).status != 0)
        throw InstallerFailure(message);
}

} // namespace orvek::base
