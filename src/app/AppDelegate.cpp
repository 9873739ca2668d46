#include "app/AppDelegate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "app/Brand.h"
#include "app/BusyCloseAlert.h"
#include "app/MainWindow.h"
#include "app/PromoDates.h"
#include "app/QtFolderPanel.h"
#include "app/QtMcpAlerts.h"
#include "app/QtPromoAlerts.h"
#include "app/RenderScreens.h"
#include "app/ScreenRenderer.h"
#include "app/SetupView.h"
#include "app/SkillsSheetPresenter.h"
#include "app/SkillsView.h"
#include "mcp/McpPresenter.h"
#include "promo/PromoOfferLoader.h"
#include "setup/DefaultServices.h"
#include "setup/ThreadExecutor.h"

namespace orvek::app {
namespace {

void finishProcess(int status, const QString& message) {
    if (!message.isEmpty())
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    // Queued, so it also works before the event loop has started.
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [status] { QCoreApplication::exit(status); });
}

void showBusyAlert(QWidget* window) {
    const auto alert = BusyCloseAlert::create(window);
    alert->exec();
}

void runLater(int delayMs, std::function<void()> task) {
    QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(task));
}

QString unavailableScreen(const QString& screen) {
    return QStringLiteral("Экран %1 в этой сборке не рисуется.").arg(screen);
}

} // namespace

AppDelegate::AppDelegate(std::shared_ptr<setup::SetupModel> model, LaunchOptions options,
                         Hooks hooks)
    : m_model(std::move(model)), m_options(std::move(options)), m_hooks(std::move(hooks)) {
    if (!m_hooks.finish)
        m_hooks.finish = &finishProcess;
    if (!m_hooks.showBusyAlert)
        m_hooks.showBusyAlert = &showBusyAlert;
    if (!m_hooks.later)
        m_hooks.later = &runLater;
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    // The window is the mark of a finished launch, but an alert screen ends without one.
    if (m_window || m_launched)
        return;
    m_launched = true;
    const auto& render = m_options.render;
    if (render)
        RenderScreens::applyState(render->screen, *m_model);
    Brand::registerFont();

    const auto content =
        render ? RenderScreens::contentFor(render->screen) : RenderScreens::Content::setup;
    if (render && content == RenderScreens::Content::alert) {
        renderAlert(render->screen, render->output);
        return;
    }

    m_window = std::make_unique<MainWindow>(m_model);
    m_window->setCloseGuard([this] { return windowShouldClose(); });
    m_skillsPresenter = std::make_unique<SkillsSheetPresenter>(m_window.get(), m_model);
    m_model->setFolderPanel(std::make_shared<QtFolderPanel>(m_window.get()));
    m_model->setPromoPresenter(std::make_shared<QtPromoAlerts>(m_window.get()));
    if (!render)
        connectDetails();
    // A campaign the release ships is offered once the skills step closes; none: no offer.
    if (!render && !m_model->verifiedPromoOffer()) {
        if (const auto resources = setup::bundledResources())
            m_model->setVerifiedPromoOffer(
                promo::loadPromoOffer(*resources, installer::Deployment::production(),
                                      std::chrono::system_clock::now(), promoDateFormatter()));
    }
    // The render mode draws the skills step in the window itself rather than in a sheet.
    if (render && content == RenderScreens::Content::skills)
        m_window->showSkillsScreen();
    if (!m_options.renderRequested) {
        if (const auto* screen = QGuiApplication::primaryScreen()) {
            const QRect visible = screen->availableGeometry();
            m_window->resize(std::min(std::max(visible.width() - 48, 440), MainWindow::kWidth),
                             std::min(std::max(visible.height() - 80, 400), MainWindow::kHeight));
        }
    }
    if (const auto* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }

    if (render) {
        // Shown without taking the focus from whatever the user is doing.
        m_window->setAttribute(Qt::WA_ShowWithoutActivating);
        m_window->show();
        m_window->raise();
        // A delegate gone before the delay has nothing left to draw.
        m_hooks.later(kRenderDelayMs, [self = QPointer<AppDelegate>(this)] {
            if (self)
                self->renderWindow();
        });
        return;
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void AppDelegate::connectDetails() {
    const auto resources = setup::bundledResources();
    if (!resources)
        return;
    m_mcpAlerts = std::make_unique<QtMcpAlerts>(m_window.get());
    // One check at a time, each on this worker; its completion comes back through the event loop.
    m_mcpWorker = std::make_unique<setup::ThreadExecutor>(1);
    m_mcpPresenter = std::make_unique<mcp::McpPresenter>(
        *m_mcpAlerts,
        [worker = m_mcpWorker.get()](std::function<void()> task) { worker->post(std::move(task)); },
        [](std::function<void()> task) {
            QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
        },
        mcp::McpPresenter::defaultEngine(*resources));
    m_window->setupView().setDetailsAction([this] { m_mcpPresenter->show(); });
}

bool AppDelegate::windowShouldClose() {
    if (!m_model->busy() && !m_model->skillsBusy())
        return true;
    m_hooks.showBusyAlert(m_window.get());
    return false;
}

void AppDelegate::renderAlert(const QString& screen, const QString& output) {
    const auto alert = RenderScreens::buildAlert(screen, nullptr);
    if (!alert) {
        finish(ScreenRenderer::kNoBitmap, unavailableScreen(screen));
        return;
    }
    alert->setAttribute(Qt::WA_ShowWithoutActivating);
    alert->setWindowModality(Qt::NonModal);
    alert->show();
    alert->adjustSize();
    const auto outcome = ScreenRenderer::render(*alert, alert->size(), output);
    alert->hide();
    finish(outcome.status, outcome.message);
}

void AppDelegate::renderWindow() {
    // The window holds the skills screen only when the launch put it in for this render.
    SkillsView* skills = m_window->skillsScreen();
    const QSize size = m_options.sizeOr(RenderScreens::defaultSize(
        skills != nullptr ? RenderScreens::Content::skills : RenderScreens::Content::setup));
    QWidget& view = skills != nullptr ? static_cast<QWidget&>(*skills) : m_window->setupView();
    const auto outcome = ScreenRenderer::render(view, size, m_options.render->output);
    finish(outcome.status, outcome.message);
}

void AppDelegate::finish(int status, const QString& message) {
    m_hooks.finish(status, message);
}

} // namespace orvek::app
