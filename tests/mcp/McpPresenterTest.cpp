#include "mcp/McpPresenter.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "McpHome.h"
#include "SandboxServer.h"
#include "TestCertificateAuthority.h"
#include "base/Json.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpHealth.h"

namespace orvek::mcp {
namespace {

using Choice = McpPresenter::Choice;

// The window system as a test drives it: the information alert answers with the chosen button,
// the progress alert spins the interface queue until the result closes it or the user presses
// "Отмена", and every alert shown is kept in order.
class PressingAlerts final : public McpAlerts {
public:
    /// The user presses "Отмена" once this says so (checked between interface tasks).
    std::function<bool()> pressCancelWhen = [] { return false; };
    std::size_t infoButton = 0;
    std::vector<McpAlert> shown;
    int closedProgress = 0;

    std::size_t run(const McpAlert& alert) override {
        shown.push_back(alert);
        return shown.size() == 1 ? infoButton : 0;
    }

    void runProgress(const McpAlert& alert) override {
        shown.push_back(alert);
        m_progressOpen = true;
        while (m_progressOpen) {
            if (pressCancelWhen())
                return;
            if (auto task = next())
                (*task)();
        }
    }

    void closeProgress() override {
        ++closedProgress;
        m_progressOpen = false;
    }

    void post(std::function<void()> task) {
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
    }

    /// Runs what is left on the interface queue, as the event loop would after `show`.
    void drain() {
        while (auto task = next(std::chrono::milliseconds(0)))
            (*task)();
    }

private:
    std::optional<std::function<void()>>
    next(std::chrono::milliseconds wait = std::chrono::milliseconds(5)) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, wait, [this] { return !m_tasks.empty(); });
        if (m_tasks.empty())
            return std::nullopt;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    bool m_progressOpen = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

class McpPresenterTest : public ::testing::Test {
protected:
    McpPresenterTest() {
        server.serveMcp("/mcp", sandbox::McpService{});
        mcp.reachService(server.port(), files.caCertificate);
    }
    ~McpPresenterTest() override {
        for (auto& worker : workers)
            worker.join();
    }

    void show(Choice choice) {
        alerts.infoButton = static_cast<std::size_t>(choice);
        McpPresenter presenter(
            alerts, [this](std::function<void()> task) { workers.emplace_back(std::move(task)); },
            [this](std::function<void()> task) { alerts.post(std::move(task)); },
            [this] {
                ++engines;
                return mcp.shared();
            });
        presenter.show();
    }

    [[nodiscard]] std::string resultText() const {
        if (alerts.shown.size() != 3)
            return "no result alert";
        EXPECT_EQ(alerts.shown[2].title, McpPresenter::kResultTitle);
        EXPECT_EQ(alerts.shown[2].buttons, std::vector<std::string>{"Закрыть"});
        return alerts.shown[2].informativeText;
    }

    test::McpHome mcp;
    sandbox::CertificateFiles files =
        sandbox::TestCertificateAuthority().writeTo(mcp.home().path());
    sandbox::SandboxServer server{files};
    PressingAlerts alerts;
    std::vector<std::thread> workers;
    int engines = 0;
};

TEST_F(McpPresenterTest, TheAlertsSayExactlyThis) {
    const auto info = McpPresenter::infoAlert();
    EXPECT_EQ(info.title, "Орвек · OpenCode 0.6.0 — закрытый пилот");
    EXPECT_EQ(
        info.informativeText,
        "По умолчанию: Opus 5.0. Также доступны GPT 5.6 Sol, Sonnet 5, Opus 5.5, Sonnet 5.5, Astra и Sol 6.1.\n\n"
        "Модели, MCP и навыки проверяются отдельно. «Подключить через CLI» использует сохранённый доступ, проверяет initialize и tools/list и лишь затем изменяет MCP. Повторный вход и платная генерация не запускаются. Неизвестные настройки сохраняются без изменений.\n\n"
        "Предварительная сборка macOS без нотариального заверения Apple.");
    EXPECT_EQ(info.buttons,
              (std::vector<std::string>{"Закрыть", "Проверить MCP", "Подключить через CLI"}));
    EXPECT_EQ(
        McpPresenter::progressAlert(),
        (McpAlert{
            "Проверяем MCP…",
            "Без генерации. Проверка может занять до минуты. Закрытие отменяет ожидающее изменение настроек.",
            {"Отмена"}}));
    EXPECT_EQ(McpPresenter::resultAlert("текст"),
              (McpAlert{"MCP — результат проверки", "текст", {"Закрыть"}}));
}

TEST_F(McpPresenterTest, CloseStartsNothing) {
    show(Choice::close);
    EXPECT_EQ(alerts.shown, std::vector<McpAlert>{McpPresenter::infoAlert()});
    EXPECT_EQ(engines, 0);
    EXPECT_TRUE(workers.empty());
    EXPECT_TRUE(server.received("/mcp").empty());
}

TEST_F(McpPresenterTest, CheckWithoutALocalEntryProbesTheRemoteEndpoint) {
    mcp.useStandIn();
    mcp.writeConfiguration(R"({"model":"x"})");
    show(Choice::check);
    ASSERT_EQ(alerts.shown.size(), 3U);
    EXPECT_EQ(alerts.shown[0], McpPresenter::infoAlert());
    EXPECT_EQ(alerts.shown[1], McpPresenter::progressAlert());
    EXPECT_EQ(
        resultText(),
        std::string(McpHealth::kConfirmedPrefix) + "2" + std::string(McpHealth::kConfirmedSuffix) +
            "\nПроверка remote endpoint без OAuth-токена не подтверждает сохранённый доступ OpenCode.");
    EXPECT_EQ(alerts.closedProgress, 1) << "the result closed the progress alert";
    EXPECT_EQ(server.received("/mcp").size(), 3U);
    EXPECT_FALSE(mcp.standInPid().has_value()) << "the helper is not asked";
}

TEST_F(McpPresenterTest, TheRemoteNoteFollowsEveryRemoteResult) {
    sandbox::McpAnswer forbidden;
    forbidden.status = 403;
    server.serveMcp("/mcp", sandbox::McpService{false, true, {{"initialize", forbidden}}});
    show(Choice::check);
    EXPECT_EQ(
        resultText(),
        std::string(McpHealth::kSignInRequired) +
            "\nПроверка remote endpoint без OAuth-токена не подтверждает сохранённый доступ OpenCode.");
}

TEST_F(McpPresenterTest, CheckWithTheLocalEntryAsksOnlyTheHelper) {
    mcp.useStandIn();
    const auto data = R"({"model":"x","mcp":{"orvek":)" + mcp.localEntry() + "}}";
    mcp.writeConfiguration(data);
    show(Choice::check);
    EXPECT_EQ(
        resultText(),
        "Сохранённое подключение через CLI: initialize и tools/list подтверждены. Инструментов: 2.");
    EXPECT_TRUE(server.received("/mcp").empty());
    EXPECT_EQ(mcp.configurationBytes(), data);
}

TEST_F(McpPresenterTest, ConnectConvertsTheRemoteEntry) {
    mcp.useStandIn("twelve-tools");
    mcp.writeConfiguration(
        base::JsonValue{{"mcp", {{"orvek", test::McpHome::remoteEntry()}}}}.dump());
    show(Choice::connect);
    EXPECT_EQ(resultText(), "Подключение через CLI проверено и сохранено. Инструментов: 12.");
    EXPECT_EQ(mcp.configurationBytes(), R"({"mcp":{"orvek":)" + mcp.localEntry() + "}}");
    EXPECT_TRUE(server.received("/mcp").empty());
}

TEST_F(McpPresenterTest, AFailureIsTheResultText) {
    mcp.useStandIn();
    mcp.openCodeRunning(true);
    const auto data = base::JsonValue{{"mcp", {{"orvek", test::McpHome::remoteEntry()}}}}.dump();
    mcp.writeConfiguration(data);
    show(Choice::connect);
    EXPECT_EQ(resultText(), "Закройте OpenCode и повторите действие.");
    EXPECT_EQ(mcp.configurationBytes(), data);
}

TEST_F(McpPresenterTest, CancelWhileTheHelperWaitsShowsNothingAndKeepsTheSettings) {
    mcp.useStandIn("wait-for-user");
    const auto data = base::JsonValue{{"mcp", {{"orvek", test::McpHome::remoteEntry()}}}}.dump();
    mcp.writeConfiguration(data);
    alerts.pressCancelWhen = [this] {
        return std::filesystem::exists(mcp.home() / ".orvek-sandbox/mcp-waiting");
    };
    show(Choice::connect);
    EXPECT_EQ(alerts.shown.size(), 2U) << "no result alert";
    // The worker notices within a poll, ends the helper and posts a result nobody shows.
    for (auto& worker : workers)
        worker.join();
    workers.clear();
    alerts.drain();
    EXPECT_EQ(alerts.shown.size(), 2U);
    EXPECT_EQ(alerts.closedProgress, 0);
    EXPECT_EQ(mcp.configurationBytes(), data);
    EXPECT_FALSE(test::stillRunning(*mcp.standInPid()));
}

} // namespace
} // namespace orvek::mcp
