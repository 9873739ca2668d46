#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"

namespace orvek::base {

/// Environment handed to a child process as its whole environment.
using Environment = std::map<std::string, std::string>;

/// What a finished child left behind.
struct ProcessResult {
    /// The exit code, or the signal number for a child ended by a signal.
    int status = 0;
    /// True when a signal ended the child: then `status` is no exit code, even if it reads 1.
    bool signaled = false;
    Bytes standardOutput;
    Bytes standardError;
};

/// Runs a program by absolute path with a timeout and a 1 MiB cap on both outputs together.
/// Throws InstallerFailure for a timeout, a read error or too much output (the child and
/// every process of its group are gone by then) and PlatformError when it cannot start.
[[nodiscard]] ProcessResult run(const std::filesystem::path& executable,
                                const std::vector<std::string>& arguments,
                                const std::optional<Environment>& environment,
                                double timeoutSeconds);

/// Called on the running thread while a child runs, about every `interval`, never more often.
/// It must not throw: the child is stopped and the exception passes on if it does.
struct Heartbeat {
    std::chrono::milliseconds interval{250};
    std::function<void()> beat;
};

/// `run` calling `heartbeat.beat` while the child runs, so the caller can watch its work.
[[nodiscard]] ProcessResult run(const std::filesystem::path& executable,
                                const std::vector<std::string>& arguments,
                                const std::optional<Environment>& environment,
                                double timeoutSeconds, const Heartbeat& heartbeat);

/// Runs with the inherited environment; throws InstallerFailure(message) on a non-zero exit.
void require(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
             const std::string& message, double timeoutSeconds = 180);

} // namespace orvek::base
