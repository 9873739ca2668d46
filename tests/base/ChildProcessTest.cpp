#include "base/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/PlatformError.h"

namespace orvek::base {
namespace {

// Everything the child writes to standard output, up to its end.
std::string drain(ChildProcess& child) {
    std::string text;
    std::array<char, 4096> chunk;
    for (;;) {
        pollfd waiting{child.standardOutput().get(), POLLIN, 0};
        (void)::poll(&waiting, 1, 1000);
        const auto count = ::read(child.standardOutput().get(), chunk.data(), chunk.size());
        if (count == 0)
            return text;
        if (count > 0)
            text.append(chunk.data(), static_cast<std::size_t>(count));
        else if (errno != EAGAIN && errno != EINTR)
            return text;
    }
}

TEST(ChildProcessOptions, InputOnAPipeErrorsDiscardedInAFolderOfItsOwn) {
    test::TempHome home;
    auto child = ChildProcess::start("/bin/sh", {"-c", "echo noise >&2; pwd; cat"}, std::nullopt,
                                     ChildOptions{true, true, home.path()});
    EXPECT_FALSE(child.standardError().valid());
    child.writeInput("line one\n");
    child.standardInput().reset();
    EXPECT_EQ(drain(child), home.path().string() + "\nline one\n");
    EXPECT_EQ(child.wait(), 0);
}

// A child that stopped reading must not take this process down with SIGPIPE.
TEST(ChildProcessOptions, WritingToAChildThatIsGoneIsAnError) {
    auto child = ChildProcess::start("/bin/true", {}, std::nullopt, ChildOptions{true, true, {}});
    EXPECT_EQ(child.wait(), 0);
    try {
        child.writeInput(std::string(200000, 'x'));
        FAIL() << "the write succeeded";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), EPIPE);
    }
    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a SIGPIPE is left pending";
}

TEST(ChildProcessOptions, KillEndsTheWholeGroupAtOnce) {
    auto child = ChildProcess::start("/bin/sh", {"-c", "trap '' TERM; sleep 600 & echo $!; wait"},
                                     std::nullopt, ChildOptions{true, true, {}});
    std::string line;
    std::array<char, 64> chunk;
    while (line.find('\n') == std::string::npos) {
        pollfd waiting{child.standardOutput().get(), POLLIN, 0};
        (void)::poll(&waiting, 1, 1000);
        const auto count = ::read(child.standardOutput().get(), chunk.data(), chunk.size());
        ASSERT_NE(count, 0);
        if (count > 0)
            line.append(chunk.data(), static_cast<std::size_t>(count));
    }
    const pid_t grandchild = std::stoi(line);
    child.kill();
    EXPECT_NE(::kill(child.pid(), 0), 0) << "the child is reaped";
    // The grandchild was killed with the group; once its parent is gone it is reaped elsewhere.
    bool gone = false;
    for (int attempt = 0; attempt < 500 && !gone; ++attempt) {
        std::string state;
        if (::kill(grandchild, 0) != 0) {
            gone = true;
        } else if (FILE* stat =
                       std::fopen(("/proc/" + std::to_string(grandchild) + "/stat").c_str(), "r")) {
            std::array<char, 512> text{};
            const auto read = std::fread(text.data(), 1, text.size() - 1, stat);
            std::fclose(stat);
            const std::string content(text.data(), read);
            const auto close = content.rfind(')');
            gone = close != std::string::npos && close + 2 < content.size() &&
                   content[close + 2] == 'Z';
        }
        if (!gone)
            ::usleep(10000);
    }
    EXPECT_TRUE(gone);
}

} // namespace
} // namespace orvek::base
