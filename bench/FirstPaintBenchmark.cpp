// The window's time to its first painted frame: a process that starts exactly as the shipped
// application does and ends at the first paint of its window, against a program linking Qt
// Widgets alone that shows an empty QWidget the same way. Both run on Qt's offscreen platform (no
// display is needed), timed from the start of the process to its exit, one pair per repetition. The
// goal is the application's window within 100 ms of the empty one.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Extremes.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"

namespace {

using namespace orvek;
using Clock = std::chrono::steady_clock;

std::optional<double> millisecondsToFirstPaint(const char* program) {
    auto environment = base::currentEnvironment();
    environment.insert_or_assign("QT_QPA_PLATFORM", "offscreen");
    const auto start = Clock::now();
    const auto result = base::run(program, {}, environment, 60);
    const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result.signaled || result.status != 0)
        return std::nullopt;
    return elapsed;
}

// One pair per repetition; its "time" is the application's, the empty window's is a counter.
void BM_FirstPaintAgainstEmptyWindow(benchmark::State& state) {
    for (auto _ : state) {
        const auto app = millisecondsToFirstPaint(ORVEK_FIRST_PAINT_APP);
        const auto empty = millisecondsToFirstPaint(ORVEK_FIRST_PAINT_EMPTY);
        if (!app || !empty) {
            state.SkipWithError("a window ended without a painted frame");
            break;
        }
        state.SetIterationTime(*app / 1e3);
        state.counters["app_ms"] = *app;
        state.counters["empty_ms"] = *empty;
        state.counters["difference_ms"] = *app - *empty;
    }
}

} // namespace

BENCHMARK(BM_FirstPaintAgainstEmptyWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ComputeStatistics("min", orvek::bench::smallest)
    ->ComputeStatistics("max", orvek::bench::largest)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
