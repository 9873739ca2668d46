#include "McpScenarioRun.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>

#include "setup/ThreadExecutor.h"

namespace orvek::sandbox {

namespace {

namespace fs = std::filesystem;

// The alerts on a terminal: each is printed as the user would read it, and the scenario's
// buttons are pressed. The progress alert spins the interface queue as a modal run would.
class ConsoleAlerts final : public mcp::McpAlerts {
public:
    ConsoleAlerts(std::size_t infoButton, std::function<bool()> pressCancel)
        : m_infoButton(infoButton), m_pressCancel(std::move(pressCancel)) {}

    std::size_t run(const mcp::McpAlert& alert) override {
        print(alert);
        const std::size_t pressed = m_alerts++ == 0 ? m_infoButton : 0;
        std::cout << "pressed: " << alert.buttons.at(pressed) << std::endl;
        if (m_alerts > 1)
            m_result = alert.informativeText;
        return pressed;
    }

    void runProgress(const mcp::McpAlert& alert) override {
        print(alert);
        ++m_alerts;
        m_progressOpen = true;
        while (m_progressOpen) {
            if (m_pressCancel()) {
                std::cout << "pressed: " << alert.buttons.at(0) << std::endl;
                return;
            }
            if (auto task = next(std::chrono::milliseconds(5)))
                (*task)();
        }
    }

    void closeProgress() override { m_progressOpen = false; }

    void post(std::function<void()> task) {
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
    }

    /// What is left on the interface queue once the user closed everything.
    void drain() {
        while (auto task = next(std::chrono::milliseconds(0)))
            (*task)();
    }

    [[nodiscard]] const std::optional<std::string>& result() const noexcept { return m_result; }

private:
    static void print(const mcp::McpAlert& alert) {
        std::cout << "alert: " << alert.title << "\n" << alert.informativeText << "\nbuttons:";
        for (const auto& button : alert.buttons)
            std::cout << " [" << button << "]";
        std::cout << std::endl;
    }

    std::optional<std::function<void()>> next(std::chrono::milliseconds wait) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, wait, [this] { return !m_tasks.empty(); });
        if (m_tasks.empty())
            return std::nullopt;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    std::size_t m_infoButton;
    std::function<bool()> m_pressCancel;
    std::size_t m_alerts = 0;
    bool m_progressOpen = false;
    std::optional<std::string> m_result;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace

int runMcpScenario(const McpScenario& scenario, const SimulatedMac::Programs& programs,
                   const RunOptions& options) {
    Scenario machineScenario;
    machineScenario.name = scenario.name;
    machineScenario.summary = scenario.summary;
    machineScenario.prepare = [&scenario](SimulatedMac& mac) {
        mac.configureHelper({});
        scenario.prepare(mac);
    };
    ScenarioMachine machine(machineScenario, programs, options);
    // The helper as the main run leaves it: downloaded, verified and installed by the engine.
    machine.core()->installHelper();

    const auto waiting = machine.mac().home() / ".orvek-sandbox/mcp-waiting";
    ConsoleAlerts alerts(static_cast<std::size_t>(scenario.choice),
                         [&] { return scenario.cancelWhileWaiting && fs::exists(waiting); });
    {
        setup::ThreadExecutor worker(1);
        mcp::McpPresenter presenter(
            alerts, [&worker](std::function<void()> task) { worker.post(std::move(task)); },
            [&alerts](std::function<void()> task) { alerts.post(std::move(task)); },
            [core = machine.core()] { return core; });
        presenter.show();
    }
    // The worker is done by now; a result it posted after "Отмена" must still show nothing.
    alerts.drain();

    bool expected = scenario.expectedResult.empty() ? !alerts.result().has_value()
                                                    : alerts.result() == scenario.expectedResult;
    if (!expected)
        std::cerr << "orvek-sandbox: the result is not the one expected\n";
    if (scenario.check) {
        if (const auto problem = scenario.check(machine.mac()); !problem.empty()) {
            std::cerr << "orvek-sandbox: " << problem << "\n";
            expected = false;
        }
    }
    std::cout << (alerts.result() ? "done" : "cancelled") << std::endl;
    return expected ? 0 : 1;
}

} // namespace orvek::sandbox
