#include "app/RenderScreens.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <string>

#include <QMessageBox>

#include "app/BusyCloseAlert.h"
#include "app/PromoDates.h"
#include "app/QtMcpAlerts.h"
#include "app/QtPromoAlerts.h"
#include "installer/Deployment.h"
#include "mcp/McpPresenter.h"
#include "promo/PromoFixture.h"
#include "promo/PromoPresenter.h"
#include "promo/PromoVerification.h"
#include "setup/SetupModel.h"

namespace orvek::app {
namespace {

using setup::SetupModel;

struct ScreenState {
    const char* name;
    std::function<void(SetupModel&)> apply;
};

std::string repeated(const char* fragment, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += fragment;
    return text;
}

// Window screens and the state each shows. Every screen but "welcome" has the consent ticked.
const std::vector<ScreenState>& windowScreens() {
    static const std::vector<ScreenState> screens{
        {"welcome", [](SetupModel&) {}},
        {"installing",
         [](SetupModel& m) {
             m.setBusy(true);
             m.setStatus("Скачиваем официальный OpenCode…");
         }},
        {"installing-progress",
         [](SetupModel& m) {
             m.setBusy(true);
             m.setStatus("Скачиваем официальный OpenCode…");
             m.setDownloadProgress(installer::DownloadProgress{48'600'000, 121'400'000});
         }},
        {"auth",
         [](SetupModel& m) {
             m.setBusy(true);
             m.setStatus("Завершите вход в Орвек в браузере…");
         }},
        {"waitclient",
         [](SetupModel& m) {
             m.setFailed(true);
             m.setStatus(
                 "Закройте OpenCode и повторите подключение. Открытые проекты и настройки будут сохранены.");
         }},
        {"cancel",
         [](SetupModel& m) {
             m.setFailed(true);
             m.setStatus(
                 "Подключение отменено. Настройки сохранены. Вы можете повторить подключение.");
         }},
        {"ready",
         [](SetupModel& m) {
             m.setReady(true);
             m.setStatus("Подключение проверено. Откройте рабочую папку в OpenCode.");
         }},
        {"failure",
         [](SetupModel& m) {
             m.setFailed(true);
             m.setStatus(
                 "Не удалось завершить подключение. Проверьте интернет и повторите попытку.");
         }},
        {"failure-long",
         [](SetupModel& m) {
             m.setFailed(true);
             m.setStatus(repeated(
                 "Не удалось получить данные подключения. Существующие настройки сохранены. Повторите проверку позже. ",
                 6));
         }},
        {"ready-long",
         [](SetupModel& m) {
             m.setReady(true);
             m.setStatus(repeated(
                 "Модели подключены. MCP проверяется отдельно в сведениях. Навыки добавляются по вашему выбору. ",
                 6));
         }},
        {"skills-autoclose",
         [](SetupModel& m) {
             m.setReady(true);
             m.setStatus("Выбранные навыки добавлены. Можно открыть OpenCode.");
         }},
        {"skills-continue",
         [](SetupModel& m) {
             m.setReady(true);
             m.setStatus("Модели готовы. Некоторые навыки не добавлены; их можно настроить позже.");
         }},
    };
    return screens;
}

// Skills screens, applied on top of the ready model with nothing selected.
const std::vector<ScreenState>& skillsScreens() {
    static const std::vector<ScreenState> screens{
        {"skills-error",
         [](SetupModel& m) {
             m.setSelection({"developer"});
             m.setSkillsFailed(true);
             m.setCanChooseAlternateFolder(true);
             // The earlier failure is replaced by the later one, as in a real second attempt.
             m.setSkillsStatus(
                 "Существующий навык изменён. Файл сохранён. Повторите только навыки.");
             m.setSkillsStatus(
                 "Рабочая папка занята. Файлы сохранены. Выберите другую папку или продолжите без оставшихся навыков.");
         }},
        {"skills-ready",
         [](SetupModel& m) {
             m.setSelection({"developer"});
             m.setSkillsSucceeded(true);
             m.setSkillsStatus("Выбранные навыки готовы. Уже добавленные файлы сохранены.");
         }},
        {"skills-all",
         [](SetupModel& m) {
             std::set<std::string> all;
             for (const auto& role : m.roles())
                 all.insert(role.id);
             m.setSelection(std::move(all));
         }},
        {"skills-busy",
         [](SetupModel& m) {
             m.setSkillsBusy(true);
             m.setSkillsStatus("Добавляем выбранные навыки…");
         }},
    };
    return screens;
}

void applyFrom(const std::vector<ScreenState>& screens, const QString& name, SetupModel& model) {
    for (const auto& screen : screens) {
        if (name == QLatin1String(screen.name))
            screen.apply(model);
    }
}

// The promo alert for the fixture campaign, verified like a real one at this moment.
std::unique_ptr<QMessageBox> promoFixture(QWidget* parent) {
    const auto now = std::chrono::system_clock::now();
    const auto webHost = installer::Deployment::production().webHost;
    const auto offer =
        promo::verifyPromoOffer(promo::fixturePromoOffer(now), promo::fixtureBalancePage(webHost),
                                webHost, now, promoDateFormatter());
    if (!offer)
        return nullptr;
    return QtPromoAlerts::build(promo::PromoPresenter::alert(*offer), parent);
}

std::function<std::unique_ptr<QMessageBox>(QWidget*)> mcpAlert(mcp::McpAlert alert) {
    return
        [alert = std::move(alert)](QWidget* parent) { return QtMcpAlerts::build(alert, parent); };
}

// Alert screens; an empty builder marks one that arrives with its own feature. Names beginning
// with "mcp-" that are not listed draw the busy-close alert.
struct AlertScreen {
    const char* name;
    std::function<std::unique_ptr<QMessageBox>(QWidget*)> build;
};

const std::vector<AlertScreen>& alertScreens() {
    static const std::vector<AlertScreen> screens{
        {"close-busy", &BusyCloseAlert::create},
        {"mcp-info", mcpAlert(mcp::McpPresenter::infoAlert())},
        {"mcp-repair", mcpAlert(mcp::McpPresenter::infoAlert())},
        {"mcp-progress", mcpAlert(mcp::McpPresenter::progressAlert())},
        {"mcp-result",
         mcpAlert(mcp::McpPresenter::resultAlert(
             "ТЕСТОВОЕ СОСТОЯНИЕ. initialize и tools/list подтверждены. Инструментов: 20. Генерация не выполнялась."))},
        {"mcp-error",
         mcpAlert(mcp::McpPresenter::resultAlert(
             "ТЕСТОВОЕ СОСТОЯНИЕ. Настройки не поддерживаются. Исходные файлы сохранены. Проверьте сохранённое подключение; повторный вход не запускался."))},
        {"promo-fixture", &promoFixture},
    };
    return screens;
}

bool startsWith(const QString& name, const char* prefix) {
    return name.startsWith(QLatin1String(prefix));
}

} // namespace

QStringList RenderScreens::names() {
    QStringList all;
    for (const auto& screen : windowScreens())
        all << QString::fromLatin1(screen.name);
    all << QStringLiteral("skills");
    for (const auto& screen : skillsScreens())
        all << QString::fromLatin1(screen.name);
    for (const auto& screen : alertScreens())
        all << QString::fromLatin1(screen.name);
    all.removeDuplicates();
    return all;
}

RenderScreens::Content RenderScreens::contentFor(const QString& name) {
    if (startsWith(name, "mcp-") || name == QLatin1String("close-busy") ||
        name == QLatin1String("promo-fixture"))
        return Content::alert;
    if (startsWith(name, "skills") && name != QLatin1String("skills-autoclose") &&
        name != QLatin1String("skills-continue"))
        return Content::skills;
    return Content::setup;
}

void RenderScreens::applyState(const QString& name, SetupModel& model) {
    if (contentFor(name) == Content::skills) {
        model.setConsent(true);
        model.setReady(true);
        model.setSkillsStatus("Ничего не выбрано. Можно пропустить и добавить навыки позже.");
        applyFrom(skillsScreens(), name, model);
        return;
    }
    const auto& screens = windowScreens();
    const bool listed = std::any_of(screens.begin(), screens.end(), [&](const ScreenState& screen) {
        return name == QLatin1String(screen.name);
    });
    if (listed && name != QLatin1String("welcome"))
        model.setConsent(true);
    applyFrom(screens, name, model);
}

QSize RenderScreens::defaultSize(Content content) {
    return content == Content::skills ? QSize(600, 620) : QSize(820, 650);
}

std::unique_ptr<QMessageBox> RenderScreens::buildAlert(const QString& name, QWidget* parent) {
    for (const auto& screen : alertScreens()) {
        if (name == QLatin1String(screen.name))
            return screen.build ? screen.build(parent) : nullptr;
    }
    if (startsWith(name, "mcp-"))
        return BusyCloseAlert::create(parent);
    return nullptr;
}

} // namespace orvek::app
