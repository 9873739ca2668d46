// The wizard's own CPU time for a whole main run (install, then connect) on the simulated Mac
// with both downloads cached: a clean Mac and a saved connection. The work of the children
// (tar, the helper, the stand-in tools) and of the simulated service is not the wizard's and
// is not counted. Baseline: asking the helper for its status once, which is what the wizard
// pays for each external step it waits on. The goal is a run under 50 ms.

#include <time.h>

#include <filesystem>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>

#include "ScenarioRun.h"
#include "Scenarios.h"
#include "base/ProcessRunner.h"
#include "installer/HelperCommand.h"
#include "installer/InstallerCore.h"
#include "setup/DefaultServices.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

sandbox::SimulatedMac::Programs programs() {
    return {fs::path(ORVEK_SANDBOX_SOURCE_DIR) / "stand-ins", ORVEK_SANDBOX_HELPER,
            ORVEK_RESOURCES_DIR};
}

const sandbox::Scenario& scenario(const std::string& name) {
    for (const auto& candidate : sandbox::scenarios())
        if (candidate.name == name)
            return candidate;
    throw std::invalid_argument(name);
}

// Each iteration prepares a new simulated Mac (not timed) and times only the run's own thread.
void mainRun(benchmark::State& state, const std::string& name) {
    sandbox::RunOptions options;
    options.cached = true;
    sandbox::ReportingWorkspace workspace;
    for (auto _ : state) {
        sandbox::ScenarioMachine machine(scenario(name), programs(), options);
        const auto services = setup::defaultServices(machine.core(), workspace);
        const double before = threadCpuSeconds();
        try {
            services.main([](const std::string&) {});
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
        state.SetIterationTime(threadCpuSeconds() - before);
    }
}

void BM_MainRunFresh(benchmark::State& state) {
    mainRun(state, "fresh");
}

void BM_MainRunSavedConnection(benchmark::State& state) {
    mainRun(state, "saved");
}

void BM_HelperStatusBaseline(benchmark::State& state) {
    sandbox::RunOptions options;
    sandbox::ScenarioMachine machine(scenario("saved"), programs(), options);
    const auto helper = machine.mac().home() / "helper-stand-in";
    fs::copy_file(ORVEK_SANDBOX_HELPER, helper, fs::copy_options::overwrite_existing);
    for (auto _ : state) {
        const double before = threadCpuSeconds();
        const auto result =
            base::run(helper, installer::HelperCommand::statusArguments(), std::nullopt, 30);
        state.SetIterationTime(threadCpuSeconds() - before);
        if (result.status != 0) {
            state.SkipWithError("the helper stand-in is not signed in");
            break;
        }
    }
}

} // namespace

BENCHMARK(BM_HelperStatusBaseline)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainRunFresh)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_MainRunSavedConnection)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

BENCHMARK_MAIN();
