// A fresh main run (install, then connect) on the simulated Mac with nothing cached, against the
// work no install can skip, timed in the same repetition on a simulated Mac of its own: fetching
// the OpenCode image and the helper archive from the same loopback HTTPS service with the same
// curl, hashing each once and copying the application out of the image once. Wall-clock time,
// since a run mostly waits on its children. Each repetition is one pair (run, then parts); the
// ratio is taken pair by pair. The goal is a run at most 1.3 times its parts.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "Extremes.h"
#include "ScenarioRun.h"
#include "Scenarios.h"
#include "base/Hashing.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"
#include "base/TempFolder.h"
#include "setup/DefaultServices.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

sandbox::SimulatedMac::Programs programs() {
    return {fs::path(ORVEK_SANDBOX_SOURCE_DIR) / "stand-ins", ORVEK_SANDBOX_HELPER,
            ORVEK_RESOURCES_DIR};
}

const sandbox::Scenario& fresh() {
    for (const auto& candidate : sandbox::scenarios())
        if (candidate.name == "fresh")
            return candidate;
    throw std::invalid_argument("fresh");
}

// The status texts of a fresh run in the order the user reads them; each step is named after
// the text that opens it and lasts until the next one (the last until the run returns).
constexpr const char* kSteps[] = {"step1_check", "step2_opencode", "step3_helper", "step4_sign_in",
                                  "step5_confirm"};
constexpr std::size_t kSignInStep = 3;

struct RunTimes {
    double total = 0;
    std::vector<double> steps;
};

RunTimes timeRun() {
    sandbox::ScenarioMachine machine(fresh(), programs(), sandbox::RunOptions{});
    sandbox::ReportingWorkspace workspace;
    const auto services = setup::defaultServices(machine.core(), workspace);
    std::vector<Clock::time_point> stamps;
    const auto start = Clock::now();
    services.main([&stamps](const std::string&) { stamps.push_back(Clock::now()); });
    const auto end = Clock::now();
    RunTimes times;
    times.total = std::chrono::duration<double, std::milli>(end - start).count();
    stamps.push_back(end);
    for (std::size_t i = 0; i + 1 < stamps.size(); ++i)
        times.steps.push_back(
            std::chrono::duration<double, std::milli>(stamps[i + 1] - stamps[i]).count());
    return times;
}

struct PartTimes {
    double fetch = 0;
    double hash = 0;
    double copy = 0;
    [[nodiscard]] double total() const { return fetch + hash + copy; }
};

void runOrThrow(const fs::path& program, const std::vector<std::string>& arguments,
                const std::optional<base::Environment>& environment = std::nullopt) {
    const auto result = base::run(program, arguments, environment, 120);
    if (result.signaled || result.status != 0)
        throw std::runtime_error(program.string() + " failed: " + result.standardError);
}

PartTimes timeParts() {
    sandbox::ScenarioMachine machine(fresh(), programs(), sandbox::RunOptions{});
    auto& mac = machine.mac();
    const auto manifest = nlohmann::json::parse(std::ifstream(mac.resources() / "payloads.json"));
    const std::string urls[] = {manifest.at("arm64").at("url"), manifest.at("cli-arm64").at("url")};
    auto environment = base::currentEnvironment();
    environment.insert_or_assign("CURL_CA_BUNDLE", mac.deployment().extraTrustedCa->string());
    const base::TempFolder downloads(mac.home() / "bench-downloads");

    PartTimes times;
    const auto fetchStart = Clock::now();
    for (std::size_t i = 0; i < 2; ++i)
        runOrThrow("/usr/bin/curl",
                   {"--fail", "--silent", "--proto", "=https", "--output",
                    (downloads / std::to_string(i)).string(), urls[i]},
                   environment);
    times.fetch = millisecondsSince(fetchStart);

    const auto hashStart = Clock::now();
    const std::string expected[] = {manifest.at("arm64").at("sha256"),
                                    manifest.at("cli-arm64").at("sha256")};
    for (std::size_t i = 0; i < 2; ++i)
        if (base::hashFile(downloads / std::to_string(i)) != expected[i])
            throw std::runtime_error("a payload came with another hash");
    times.hash = millisecondsSince(hashStart);

    // The application as the image holds it, unpacked untimed: mounting is the image format's
    // business, copying the tree is the install's.
    const base::TempFolder mounted(mac.home() / "bench-mounted");
    runOrThrow("/usr/bin/tar", {"-xzf", (downloads / "0").string(), "-C", mounted.path().string()});
    const auto applications = mac.home() / "Applications";
    fs::create_directories(applications);
    const auto copyStart = Clock::now();
    fs::copy(mounted / "OpenCode.app", applications / "OpenCode.app",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    times.copy = millisecondsSince(copyStart);
    return times;
}

// One pair per repetition; its "time" is the run's, the parts and the ratio are counters.
void BM_FreshRunAgainstParts(benchmark::State& state) {
    for (auto _ : state) {
        RunTimes run;
        PartTimes parts;
        try {
            run = timeRun();
            parts = timeParts();
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
        state.SetIterationTime(run.total / 1e3);
        state.counters["run_ms"] = run.total;
        state.counters["parts_ms"] = parts.total();
        state.counters["ratio"] = run.total / parts.total();
        state.counters["fetch_ms"] = parts.fetch;
        state.counters["hash_ms"] = parts.hash;
        state.counters["copy_ms"] = parts.copy;
        // The sign-in step is mostly the helper stand-in's scripted browser sign-in (0.3 s).
        if (run.steps.size() > kSignInStep)
            state.counters["ratio_less_sign_in"] =
                (run.total - run.steps[kSignInStep]) / parts.total();
        for (std::size_t i = 0; i < std::size(kSteps); ++i)
            state.counters[kSteps[i]] = i < run.steps.size() ? run.steps[i] : NAN;
    }
}

} // namespace

BENCHMARK(BM_FreshRunAgainstParts)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ComputeStatistics("min", orvek::bench::smallest)
    ->ComputeStatistics("max", orvek::bench::largest)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
