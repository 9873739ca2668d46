// orvek-sandbox: runs the wizard's setup model on a simulated Mac and prints what the user
// would read in the status line, one text per line, then "ready" or "failed".

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "EventLoop.h"
#include "ScriptedRun.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace {

namespace fs = std::filesystem;
using namespace orvek;

constexpr int kUsage = 2;

int usage() {
    std::cerr << "usage: orvek-sandbox list\n"
                 "       orvek-sandbox run --scenario NAME [--home DIR] [--keep]\n";
    return kUsage;
}

// A throwaway home folder, removed at the end unless the user asked to keep it.
class ScratchHome {
public:
    explicit ScratchHome(std::optional<fs::path> chosen, bool keep) : m_keep(keep) {
        if (chosen) {
            m_path = fs::absolute(*chosen);
            fs::create_directories(m_path);
            m_keep = true;
            return;
        }
        std::string pattern =
            (fs::canonical(fs::temp_directory_path()) / "orvek-sandbox-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        m_path = pattern;
    }
    ~ScratchHome() {
        std::error_code ignored;
        if (!m_keep)
            fs::remove_all(m_path, ignored);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;
    [[nodiscard]] const fs::path& path() const { return m_path; }
    [[nodiscard]] bool kept() const { return m_keep; }

private:
    fs::path m_path;
    bool m_keep;
};

int runScenario(const sandbox::Scenario& scenario, std::optional<fs::path> homeArgument,
                bool keep) {
    const ScratchHome home(std::move(homeArgument), keep);
    installer::InstallerCore core(ORVEK_SANDBOX_SOURCE_DIR, home.path(), home.path() / ".config");
    sandbox::prepareHome(core, scenario);

    sandbox::EventLoop mainLoop;
    setup::ThreadExecutor workers;
    auto model = setup::SetupModel::create(sandbox::scriptedServices(core), mainLoop, workers);
    auto subscription = model->observe({{}, [&model](setup::SetupModel::Property property) {
                                            if (property == setup::SetupModel::Property::status)
                                                std::cout << model->status() << std::endl;
                                        }});

    model->setConsent(true);
    model->start();
    const bool finished = mainLoop.runUntil(
        [&model] { return !model->busy() && (model->ready() || model->failed()); },
        std::chrono::minutes(20));
    if (!finished) {
        std::cout << "timeout" << std::endl;
        return 1;
    }
    std::cout << (model->ready() ? "ready" : "failed") << std::endl;
    if (home.kept())
        std::cerr << "home: " << home.path().string() << "\n";
    return model->ready() == scenario.expectReady ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "list") {
        for (const auto& scenario : sandbox::scenarios())
            std::cout << scenario.name << "\t" << scenario.summary << "\n";
        return 0;
    }
    if (args.empty() || args[0] != "run")
        return usage();

    std::optional<std::string> name;
    std::optional<fs::path> home;
    bool keep = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--scenario" && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == "--home" && i + 1 < args.size())
            home = args[++i];
        else if (args[i] == "--keep")
            keep = true;
        else
            return usage();
    }
    if (!name)
        return usage();
    for (const auto& scenario : sandbox::scenarios()) {
        if (scenario.name == *name) {
            try {
                return runScenario(scenario, home, keep);
            } catch (const std::exception& error) {
                std::cerr << "orvek-sandbox: " << error.what() << "\n";
                return 1;
            }
        }
    }
    std::cerr << "orvek-sandbox: unknown scenario " << *name << " (see orvek-sandbox list)\n";
    return kUsage;
}
