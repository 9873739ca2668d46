#include "mcp/McpPresenter.h"

#include <exception>
#include <utility>

#include "config/ConfigReader.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpEndpoint.h"
#include "mcp/McpHealth.h"

namespace orvek::mcp {

namespace {

// What one `show` call shares with its worker and the worker's completion, which may arrive
// after `show` has returned.
struct Presentation {
    McpCancellation cancellation;
    bool done = false;
    std::string result;
};

} // namespace

McpPresenter::McpPresenter(McpAlerts& alerts, Submit background, Submit interface,
                           EngineFactory engine)
    : m_alerts(alerts), m_background(std::move(background)), m_interface(std::move(interface)),
      m_engine(std::move(engine)) {}

McpPresenter::EngineFactory McpPresenter::defaultEngine(std::filesystem::path resources,
                                                        installer::Deployment deployment) {
    return [resources = std::move(resources), deployment = std::move(deployment)] {
        return std::make_shared<const installer::InstallerCore>(resources, std::nullopt,
                                                                std::nullopt, deployment);
    };
}

McpAlert McpPresenter::infoAlert() {
    return {std::string(kInfoTitle),
            std::string(kInfoModels) + "\n\n" + std::string(kInfoChecks) + "\n\n" +
                std::string(kInfoBuild),
            {std::string(kCloseButton), std::string(kCheckButton), std::string(kConnectButton)}};
}

McpAlert McpPresenter::progressAlert() {
    return {std::string(kProgressTitle), std::string(kProgressText), {std::string(kCancelButton)}};
}

McpAlert McpPresenter::resultAlert(const std::string& text) {
    return {std::string(kResultTitle), text, {std::string(kCloseButton)}};
}

std::string McpPresenter::work(Choice choice, const installer::InstallerCore& core,
                               McpCancellation& cancellation) {
    try {
        if (choice == Choice::connect)
            return std::string(kRepairedPrefix) +
                   std::to_string(LocalMcp::repair(core, cancellation)) + ".";
        if (LocalMcp::configured(core))
            return std::string(kSavedConfirmedPrefix) +
                   std::to_string(LocalMcp::probeConfigured(core, cancellation)) + ".";
        return McpHealth::probe(McpEndpoint::of(core.deployment())) + "\n" +
               std::string(kRemoteNote);
    } catch (const std::exception& error) {
        // InstallerFailure, PlatformError and JsonError all describe themselves in Russian.
        return error.what();
    } catch (...) {
        return config::ConfigReader::failure().message();
    }
}

void McpPresenter::show() {
    const auto pressed = m_alerts.run(infoAlert());
    if (pressed != static_cast<std::size_t>(Choice::check) &&
        pressed != static_cast<std::size_t>(Choice::connect))
        return;
    const auto choice = static_cast<Choice>(pressed);
    const auto presentation = std::make_shared<Presentation>();
    std::shared_ptr<const installer::InstallerCore> core = m_engine();

    m_background([presentation, core, choice, interface = m_interface, &alerts = m_alerts] {
        auto text = work(choice, *core, presentation->cancellation);
        interface([presentation, text = std::move(text), &alerts]() mutable {
            // The user gave up: nothing is shown, and `show` has returned already.
            if (presentation->cancellation.cancelled())
                return;
            presentation->done = true;
            presentation->result = std::move(text);
            alerts.closeProgress();
        });
    });

    m_alerts.runProgress(progressAlert());
    if (!presentation->done) {
        presentation->cancellation.cancel();
        return;
    }
    (void)m_alerts.run(resultAlert(presentation->result));
}

} // namespace orvek::mcp
