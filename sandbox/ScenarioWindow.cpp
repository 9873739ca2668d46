#include "ScenarioWindow.h"

#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/Brand.h"
#include "app/LaunchOptions.h"
#include "app/MainWindow.h"
#include "app/OffscreenNotices.h"
#include "app/QtMainExecutor.h"
#include "app/ScreenRenderer.h"
#include "setup/DefaultServices.h"
#include "setup/SetupModel.h"
#include "setup/ThreadExecutor.h"

namespace orvek::sandbox {

namespace fs = std::filesystem;
using setup::SetupModel;

namespace {

// Draws the model's state after each burst of changes has settled, one numbered file each,
// skipping states that look the same as the last one drawn.
class ScreenRecorder {
public:
    ScreenRecorder(std::shared_ptr<SetupModel> model, fs::path folder)
        : m_model(std::move(model)), m_folder(std::move(folder)) {
        fs::create_directories(m_folder);
    }

    void changed() {
        if (m_pending)
            return;
        m_pending = true;
        QTimer::singleShot(0, [this] { draw(); });
    }

    void draw() {
        m_pending = false;
        std::ostringstream key;
        key << m_model->busy() << m_model->ready() << m_model->failed() << m_model->consent()
            << m_model->status();
        if (key.str() == m_last)
            return;
        m_last = key.str();
        std::ostringstream name;
        name << std::setw(2) << std::setfill('0') << ++m_count << "-" << stateName() << ".png";
        const auto path = m_folder / name.str();
        const auto outcome = app::ScreenRenderer::renderSetupScreen(
            m_model, QSize(app::MainWindow::kWidth, app::MainWindow::kHeight),
            QString::fromStdString(path.string()));
        if (!outcome.succeeded())
            std::cerr << outcome.message.toStdString() << "\n";
    }

private:
    [[nodiscard]] const char* stateName() const {
        if (m_model->ready())
            return "ready";
        if (m_model->failed())
            return "failed";
        if (m_model->busy())
            return "running";
        return m_model->consent() ? "consent" : "welcome";
    }

    std::shared_ptr<SetupModel> m_model;
    fs::path m_folder;
    bool m_pending = false;
    int m_count = 0;
    std::string m_last;
};

} // namespace

int runScenarioWindow(const Scenario& scenario, const SimulatedMac::Programs& programs,
                      const RunOptions& options, const std::optional<fs::path>& screens, int argc,
                      char** argv) {
    if (screens && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    app::silenceOffscreenNotices();

    ScenarioMachine machine(scenario, programs, options);
    QApplication application(argc, argv);
    app::Brand::applyAppearance(application);
    app::Brand::registerFont();

    // Destroyed in reverse: the workers finish before the model and the engine go.
    ReportingWorkspace workspace;
    app::QtMainExecutor mainExecutor;
    setup::ThreadExecutor workers;
    auto model = SetupModel::create(setup::defaultServices(machine.core(), workspace), mainExecutor,
                                    workers);

    std::unique_ptr<ScreenRecorder> recorder;
    // Each drawing closes a window of its own; only the end of the run ends the program.
    QApplication::setQuitOnLastWindowClosed(!screens);
    if (screens)
        recorder = std::make_unique<ScreenRecorder>(model, fs::absolute(*screens));
    bool retried = false;
    // Judged once the whole completion has been applied, not in the middle of it.
    const auto finishedRun = [&] {
        if (model->busy() || !(model->ready() || model->failed()))
            return;
        // The user does what the scenario says (closes OpenCode…) and may press the button again.
        if (model->failed() && scenario.beforeRetry && !retried) {
            retried = true;
            scenario.beforeRetry(machine.mac());
            if (recorder)
                QTimer::singleShot(0, [&] { model->start(); });
            return;
        }
        if (recorder)
            QTimer::singleShot(0, [] { QApplication::quit(); });
    };
    auto subscription = model->observe({{}, [&](SetupModel::Property property) {
                                            if (property == SetupModel::Property::status)
                                                std::cout << model->status() << std::endl;
                                            if (recorder)
                                                recorder->changed();
                                            if (property == SetupModel::Property::busy)
                                                QTimer::singleShot(0, finishedRun);
                                        }});

    std::unique_ptr<app::AppDelegate> delegate;
    if (recorder) {
        recorder->draw();
        QTimer::singleShot(0, [&] {
            model->setConsent(true);
            model->start();
        });
    } else {
        delegate = std::make_unique<app::AppDelegate>(model, app::LaunchOptions{});
        delegate->applicationDidFinishLaunching();
    }
    const int status = QApplication::exec();
    if (recorder) {
        std::cout << (model->ready() ? "ready" : "failed") << std::endl;
        std::cerr << "screens: " << fs::absolute(*screens).string() << "\n";
        return endedAsExpected(scenario, model->ready(), model->status()) ? 0 : 1;
    }
    return status;
}

} // namespace orvek::sandbox
