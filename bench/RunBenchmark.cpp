// The runner's own cost: `run` of a program that does nothing, against a bare spawn and wait of
// the same program. The difference between the medians is what pipes, polling and the exit
// check add to every external step; it should stay well under 2 ms.

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>

#include "base/ProcessRunner.h"

#ifdef __APPLE__
#include <crt_externs.h>
#define environ (*_NSGetEnviron())
#else
extern char** environ;
#endif

namespace {

constexpr const char* kTrue = "/bin/true";

void BM_Run(benchmark::State& state) {
    for (auto _ : state) {
        const auto result = orvek::base::run(kTrue, {}, std::nullopt, 10);
        if (result.status != 0) {
            state.SkipWithError("/bin/true failed");
            break;
        }
    }
}

void BM_SpawnAndWait(benchmark::State& state) {
    std::string path = kTrue;
    char* argv[] = {path.data(), nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        if (posix_spawn(&pid, kTrue, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("/bin/true failed");
            break;
        }
    }
}

// Wall-clock time: the parent mostly waits for the child, which CPU time would not show.
BENCHMARK(BM_SpawnAndWait)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.3)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Run)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.3)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
