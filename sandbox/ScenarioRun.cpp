#include "ScenarioRun.h"

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <set>
#include <utility>

#include "EventLoop.h"
#include "config/ProductLists.h"
#include "installer/InstallerCore.h"
#include "setup/DefaultServices.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace orvek::sandbox {

namespace fs = std::filesystem;

namespace {

double threadCpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void enterHome(const fs::path& home) {
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    for (const char* name : config::overrideVariables)
        ::unsetenv(name);
}

} // namespace

ScenarioMachine::ScenarioMachine(const Scenario& scenario, const SimulatedMac::Programs& programs,
                                 const RunOptions& options)
    : m_machineFolder(base::TempFolder::unique("orvek-sandbox-mac-")), m_keep(options.keep) {
    // Kept from the start, so a scenario that fails to prepare still leaves its folders to look at.
    if (m_keep)
        (void)m_machineFolder.take();
    if (options.home) {
        fs::create_directories(*options.home);
        m_home = fs::canonical(*options.home);
    } else {
        m_homeFolder.emplace(base::TempFolder::unique("orvek-sandbox-home-"));
        if (m_keep)
            (void)m_homeFolder->take();
        m_home = m_homeFolder->path();
    }
    enterHome(m_home);
    m_mac = std::make_unique<SimulatedMac>(m_home, m_machineFolder.path(), programs);
    if (options.key)
        m_mac->useKey(*options.key);
    if (options.recordArguments) {
        m_mac->recordArguments();
        m_watch.emplace(m_machineFolder.path() / "processes.log");
    }
    if (options.cached)
        m_mac->cacheDownloads();
    if (options.slow)
        m_mac->serveSlowly(3);
    scenario.prepare(*m_mac);
    m_core = std::make_shared<installer::InstallerCore>(m_mac->resources(), m_home, std::nullopt,
                                                        m_mac->deployment());
}

ScenarioMachine::~ScenarioMachine() {
    if (m_keep)
        std::cerr << "home: " << m_home.string() << "\nmachine: " << m_machineFolder.path().string()
                  << "\n";
}

void ReportingWorkspace::openApplication(const fs::path& app) {
    std::cerr << "open application: " << app.string() << "\n";
}

void ReportingWorkspace::openUrl(const std::string& url) {
    std::cerr << "open url: " << url << "\n";
}

bool endedAsExpected(const Scenario& scenario, bool ready, const std::string& status) {
    return ready == scenario.expectReady && status.starts_with(scenario.expectedStatus);
}

bool skillsEndedAsExpected(const Scenario& scenario, SimulatedMac& mac, bool succeeded,
                           const std::string& status) {
    if (succeeded != scenario.expectSkillsReady ||
        !status.starts_with(scenario.expectedSkillsStatus)) {
        std::cerr << "orvek-sandbox: the skills step did not end as " << scenario.name
                  << " expects\n";
        return false;
    }
    if (scenario.checkSkills) {
        if (const auto problem = scenario.checkSkills(mac); !problem.empty()) {
            std::cerr << "orvek-sandbox: " << scenario.name << ": " << problem << "\n";
            return false;
        }
    }
    return true;
}

int runScenario(const Scenario& scenario, const SimulatedMac::Programs& programs,
                const RunOptions& options) {
    ScenarioMachine machine(scenario, programs, options);
    ReportingWorkspace workspace;
    auto services = setup::defaultServices(machine.core(), workspace);
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
    // The skills sheet the ready run opens: the roles ticked there, none when it is skipped.
    const auto& roles = options.roles ? *options.roles : scenario.roles;
    auto subscription = model->observe(
        {{}, [&model, &roles, slow = options.slow](setup::SetupModel::Property property) {
             if (property == setup::SetupModel::Property::status)
                 std::cout << model->status() << std::endl;
             if (property == setup::SetupModel::Property::downloadProgress && slow) {
                 if (const auto& download = model->downloadProgress())
                     std::cout << "download: " << download->received << " of "
                               << (download->expected ? std::to_string(*download->expected)
                                                      : std::string("?"))
                               << " bytes" << std::endl;
                 else
                     std::cout << "download: done" << std::endl;
             }
             if (property == setup::SetupModel::Property::skillsStatus && !roles.empty())
                 std::cout << "skills: " << model->skillsStatus() << std::endl;
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
        scenario.beforeRetry(machine.mac());
        finished = runOnce();
    }
    const double mainCpu = threadCpuMilliseconds() - mainBefore;
    if (!finished) {
        std::cout << "timeout" << std::endl;
        return 1;
    }
    std::cout << (model->ready() ? "ready" : "failed") << std::endl;

    bool skillsExpected = true;
    if (model->ready() && !roles.empty()) {
        const auto installed = [&model] { return !model->skillsBusy(); };
        model->setSelection(std::set<std::string>(roles.begin(), roles.end()));
        model->installSkills();
        bool done = mainLoop.runUntil(installed, std::chrono::minutes(5));
        if (done && model->skillsFailed() && model->canChooseAlternateFolder() &&
            !scenario.alternateParent.empty()) {
            std::cout << "skills: another folder: " << scenario.alternateParent << std::endl;
            model->retryInAlternateFolder(machine.mac().home() / scenario.alternateParent);
            done = mainLoop.runUntil(installed, std::chrono::minutes(5));
        }
        if (!done) {
            std::cout << "timeout" << std::endl;
            return 1;
        }
        std::cout << (model->skillsSucceeded() ? "skills ready" : "skills failed") << std::endl;
        // Roles from the command line are the user's own choice: only the scenario's are checked.
        if (!options.roles)
            skillsExpected = skillsEndedAsExpected(scenario, machine.mac(),
                                                   model->skillsSucceeded(), model->skillsStatus());
    }
    if (options.measureCpu)
        std::cerr << "wizard cpu: " << workerCpu + mainCpu << " ms (worker " << workerCpu
                  << " ms, main " << mainCpu << " ms)\n";
    const bool expected = endedAsExpected(scenario, model->ready(), model->status());
    if (!expected)
        std::cerr << "orvek-sandbox: the run did not end as " << scenario.name << " expects\n";
    return expected && skillsExpected ? 0 : 1;
}

} // namespace orvek::sandbox
