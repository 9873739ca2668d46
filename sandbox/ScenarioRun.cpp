#include "ScenarioRun.h"

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <system_error>
#include <utility>

#include "EventLoop.h"
#include "installer/InstallerCore.h"
#include "setup/DefaultServices.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace orvek::sandbox {

namespace fs = std::filesystem;

namespace {

// A folder made for this run, removed at the end unless it is to be kept.
class ScratchFolder {
public:
    ScratchFolder(const std::string& prefix, bool keep) : m_keep(keep) {
        std::string pattern =
            (fs::canonical(fs::temp_directory_path()) / (prefix + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!m_keep)
            fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    [[nodiscard]] const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
    bool m_keep;
};

// Opening OpenCode is the desktop's business; here it is only reported.
class ReportingWorkspace final : public setup::Workspace {
public:
    void openApplication(const fs::path& app) override {
        std::cerr << "open application: " << app.string() << "\n";
    }
    void openUrl(const std::string& url) override { std::cerr << "open url: " << url << "\n"; }
};

double threadCpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The simulated user's session: children of the wizard (the helper above all) find the home
// and OpenCode's settings through these, exactly as on the Mac.
void enterHome(const fs::path& home) {
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG",
                             "OPENCODE_CONFIG_CONTENT", "ORVEK_CLI_STATE_DIR", "ORVEK_API_URL"})
        ::unsetenv(name);
}

} // namespace

int runScenario(const Scenario& scenario, const SimulatedMac::Programs& programs,
                const RunOptions& options) {
    const ScratchFolder machine("orvek-sandbox-mac-", options.keep);
    std::optional<ScratchFolder> scratchHome;
    fs::path home;
    if (options.home) {
        home = fs::absolute(*options.home);
        fs::create_directories(home);
        home = fs::canonical(home);
    } else {
        scratchHome.emplace("orvek-sandbox-home-", options.keep);
        home = scratchHome->path();
    }
    enterHome(home);

    SimulatedMac mac(home, machine.path(), programs);
    if (options.cached)
        mac.cacheDownloads();
    scenario.prepare(mac);

    auto core = std::make_shared<installer::InstallerCore>(mac.resources(), home, std::nullopt,
                                                           mac.deployment());
    ReportingWorkspace workspace;
    auto services = setup::defaultServices(core, workspace);
    double workerCpu = 0;
    services.main = [run = std::move(services.main),
                     &workerCpu](const setup::SetupServices::Progress& progress) {
        const double before = threadCpuMilliseconds();
        try {
            run(progress);
        } catch (...) {
            workerCpu += threadCpuMilliseconds() - before;
            throw;
        }
        workerCpu += threadCpuMilliseconds() - before;
    };

    EventLoop mainLoop;
    setup::ThreadExecutor workers;
    auto model = setup::SetupModel::create(std::move(services), mainLoop, workers);
    auto subscription = model->observe({{}, [&model](setup::SetupModel::Property property) {
                                            if (property == setup::SetupModel::Property::status)
                                                std::cout << model->status() << std::endl;
                                        }});

    const double mainBefore = threadCpuMilliseconds();
    const auto runOnce = [&]() {
        model->start();
        return mainLoop.runUntil([&model] { return !model->busy(); }, std::chrono::minutes(20));
    };
    model->setConsent(true);
    bool finished = runOnce();
    if (finished && scenario.beforeRetry) {
        std::cout << (model->ready() ? "ready" : "failed") << "\nretry" << std::endl;
        scenario.beforeRetry(mac);
        finished = runOnce();
    }
    const double mainCpu = threadCpuMilliseconds() - mainBefore;
    if (!finished) {
        std::cout << "timeout" << std::endl;
        return 1;
    }
    std::cout << (model->ready() ? "ready" : "failed") << std::endl;
    if (options.measureCpu)
        std::cerr << "wizard cpu: " << workerCpu + mainCpu << " ms (worker " << workerCpu
                  << " ms, main " << mainCpu << " ms)\n";
    if (options.keep)
        std::cerr << "home: " << home.string() << "\nmachine: " << machine.path().string() << "\n";
    const bool expected = model->ready() == scenario.expectReady &&
                          model->status().starts_with(scenario.expectedStatus);
    if (!expected)
        std::cerr << "orvek-sandbox: the run did not end as " << scenario.name << " expects\n";
    return expected ? 0 : 1;
}

} // namespace orvek::sandbox
