#include "setup/SetupModel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ManualExecutor.h"
#include "base/InstallerFailure.h"
#include "base/PlatformError.h"
#include "setup/ThreadExecutor.h"

namespace orvek::setup {
namespace {

using test::ManualExecutor;
using Property = SetupModel::Property;
using Progress = SetupServices::Progress;

// What the user reads, spelled out here rather than taken from the model's constants.
constexpr const char* kChecking = "Проверяем компьютер…";
constexpr const char* kConnected =
    "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.";
constexpr const char* kNothingSelected =
    "Ничего не выбрано. Можно пропустить и добавить навыки позже.";
constexpr const char* kUnexpected = "Произошла непредвиденная ошибка. Повторите действие.";

// The texts of a fresh connection with the default services, in the order they are sent.
const std::vector<std::string>& freshConnectionTexts() {
    static const std::vector<std::string> texts = {
        "Проверяем компьютер…",        "Скачиваем официальный OpenCode…",
        "Подготавливаем подключение…", "Завершите вход в Орвек в браузере…",
        "Проверяем подключение…",
    };
    return texts;
}

std::string valueOf(const SetupModel& model, Property property) {
    const auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    std::string joined;
    switch (property) {
    case Property::busy:
        return flag(model.busy());
    case Property::ready:
        return flag(model.ready());
    case Property::failed:
        return flag(model.failed());
    case Property::consent:
        return flag(model.consent());
    case Property::status:
        return model.status();
    case Property::selection:
        for (const auto& id : model.selection())
            joined += id + ";";
        return joined;
    case Property::folders:
        for (const auto& folder : model.folders())
            joined += folder.string() + ";";
        return joined;
    case Property::showSkills:
        return flag(model.showSkills());
    case Property::skillsBusy:
        return flag(model.skillsBusy());
    case Property::skillsFailed:
        return flag(model.skillsFailed());
    case Property::skillsSucceeded:
        return flag(model.skillsSucceeded());
    case Property::skillsStatus:
        return model.skillsStatus();
    case Property::canChooseAlternateFolder:
        return flag(model.canChooseAlternateFolder());
    case Property::downloadProgress:
        if (const auto& progress = model.downloadProgress())
            return std::to_string(progress->received) + "/" +
                   (progress->expected ? std::to_string(*progress->expected) : "?");
        return "none";
    }
    return "?";
}

struct Notification {
    bool before;
    Property property;
    std::string value; // the property's value when the observer was told

    friend bool operator==(const Notification&, const Notification&) = default;
    friend void PrintTo(const Notification& n, std::ostream* out) {
        *out << (n.before ? "will " : "did ") << static_cast<int>(n.property) << " = \"" << n.value
             << '"';
    }
};

/// Records every notification of one model with the property's value at that moment.
class Recorder {
public:
    explicit Recorder(SetupModel& model)
        : m_subscription(model.observe({
              [this, &model](Property p) {
                  m_seen.push_back({true, p, valueOf(model, p)});
              },
              [this, &model](Property p) {
                  m_seen.push_back({false, p, valueOf(model, p)});
              },
          })) {}
    Recorder(Recorder&&) = delete;
    Recorder& operator=(Recorder&&) = delete;

    [[nodiscard]] const std::vector<Notification>& seen() const { return m_seen; }

    /// The values `property` took, in order, as observers saw them after each change.
    [[nodiscard]] std::vector<std::string> values(Property property) const {
        std::vector<std::string> result;
        for (const auto& n : m_seen)
            if (!n.before && n.property == property)
                result.push_back(n.value);
        return result;
    }

private:
    std::vector<Notification> m_seen;
    SetupModel::Subscription m_subscription;
};

class SetupModelTest : public ::testing::Test {
protected:
    /// Services whose `main` sends `texts` as progress and then ends with `ending`, which may
    /// throw; `open` is counted.
    SetupServices services(std::vector<std::string> texts = freshConnectionTexts(),
                           std::function<void()> ending = {}) {
        SetupServices result;
        result.main = [this, texts = std::move(texts),
                       ending = std::move(ending)](const Progress& progress) {
            ++mainCalls;
            for (const auto& text : texts)
                progress(text);
            if (ending)
                ending();
        };
        result.open = [this] { ++openCalls; };
        return result;
    }

    std::shared_ptr<SetupModel> makeModel(SetupServices withServices) {
        return SetupModel::create(std::move(withServices), mainQueue, worker);
    }

    std::shared_ptr<SetupModel> startedModel(SetupServices withServices) {
        auto model = makeModel(std::move(withServices));
        model->setConsent(true);
        model->start();
        return model;
    }

    /// Runs the worker's tasks and then the main thread's, as the run would unfold.
    void finishRun() {
        worker.runAll();
        mainQueue.runAll();
    }

    ManualExecutor mainQueue;
    ManualExecutor worker;
    int mainCalls = 0;
    int openCalls = 0;
};

TEST_F(SetupModelTest, NewModelIsIdleAndStartsNothing) {
    const auto model = makeModel(services());

    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->ready());
    EXPECT_FALSE(model->failed());
    EXPECT_FALSE(model->consent());
    EXPECT_EQ(model->status(), "");
    EXPECT_TRUE(model->selection().empty());
    EXPECT_TRUE(model->folders().empty());
    EXPECT_FALSE(model->showSkills());
    EXPECT_FALSE(model->skillsBusy());
    EXPECT_FALSE(model->skillsFailed());
    EXPECT_FALSE(model->skillsSucceeded());
    EXPECT_EQ(model->skillsStatus(), "");
    EXPECT_FALSE(model->canChooseAlternateFolder());
    EXPECT_FALSE(model->alternateParent().has_value());
    EXPECT_EQ(worker.pending(), 0u);
    EXPECT_EQ(mainQueue.pending(), 0u);

    std::vector<std::string> ids;
    for (const auto& role : model->roles())
        ids.push_back(role.id);
    EXPECT_EQ(ids,
              (std::vector<std::string>{"developer", "analyst", "designer", "manager", "video"}));
}

TEST_F(SetupModelTest, StartIsIgnoredWithoutConsentWhileRunningAndAfterSuccess) {
    struct Case {
        const char* name;
        std::function<void(SetupModel&)> prepare;
        int runsInTotal;
    };
    const std::vector<Case> cases = {
        {"without consent", [](SetupModel&) {}, 0},
        {"while running",
         [](SetupModel& model) {
             model.setConsent(true);
             model.start();
         },
         1},
        {"after success",
         [this](SetupModel& model) {
             model.setConsent(true);
             model.start();
             finishRun();
         },
         1},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        mainCalls = 0;
        const auto model = makeModel(services());
        row.prepare(*model);
        const auto workerTasks = worker.pending();
        const auto mainTasks = mainQueue.pending();
        const auto statusBefore = model->status();

        Recorder recorder(*model);
        model->start();

        EXPECT_TRUE(recorder.seen().empty());
        EXPECT_EQ(model->status(), statusBefore);
        EXPECT_EQ(worker.pending(), workerTasks);
        EXPECT_EQ(mainQueue.pending(), mainTasks);
        finishRun();
        EXPECT_EQ(mainCalls, row.runsInTotal);
    }
}

TEST_F(SetupModelTest, StartShowsCheckingTextAndLeavesTheRunToTheWorker) {
    const auto model = makeModel(services());
    model->setConsent(true);
    Recorder recorder(*model);

    model->start();

    EXPECT_TRUE(model->busy());
    EXPECT_FALSE(model->failed());
    EXPECT_FALSE(model->ready());
    EXPECT_EQ(model->status(), kChecking);
    EXPECT_EQ(recorder.values(Property::busy), std::vector<std::string>{"true"});
    EXPECT_EQ(worker.pending(), 1u);
    EXPECT_EQ(mainQueue.pending(), 0u);
    EXPECT_EQ(mainCalls, 0);
}

TEST_F(SetupModelTest, WorkerOnlyPostsAndProgressReachesStatusInOrder) {
    const auto model = startedModel(services());
    Recorder recorder(*model);

    worker.runOne();

    // The worker has run `main` to its end, yet nothing the screens see has changed.
    EXPECT_EQ(mainCalls, 1);
    EXPECT_TRUE(recorder.seen().empty());
    EXPECT_TRUE(model->busy());
    EXPECT_FALSE(model->ready());
    EXPECT_EQ(model->status(), kChecking);
    // One main-thread task per text, then one for the outcome.
    ASSERT_EQ(mainQueue.pending(), freshConnectionTexts().size() + 1);

    std::vector<std::string> statusAfterEachTask;
    while (mainQueue.runOne())
        statusAfterEachTask.push_back(model->status());

    std::vector<std::string> expected = freshConnectionTexts();
    expected.push_back(kConnected);
    EXPECT_EQ(statusAfterEachTask, expected);
    // The repeated checking text changes nothing, so observers are not told of it.
    EXPECT_EQ(recorder.values(Property::status),
              (std::vector<std::string>{
                  "Скачиваем официальный OpenCode…", "Подготавливаем подключение…",
                  "Завершите вход в Орвек в браузере…", "Проверяем подключение…", kConnected}));
    EXPECT_FALSE(model->busy());
    EXPECT_TRUE(model->ready());
    EXPECT_FALSE(model->failed());
    EXPECT_TRUE(model->consent());
}

// Download sizes travel like the texts: posted in order, on the main thread only, and the
// status text is never touched by them.
TEST_F(SetupModelTest, DownloadProgressIsItsOwnPropertyAndEndsWithTheRun) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing run" : "successful run");
        auto withServices = services({"Скачиваем официальный OpenCode…"}, [fails] {
            if (fails)
                throw base::InstallerFailure("Не удалось скачать компонент.");
        });
        SetupServices::DownloadSink sink;
        const auto runMain = withServices.main;
        withServices.observeDownloads = [&sink](const SetupServices::DownloadSink& given) {
            sink = given;
        };
        // The run reports two sizes and, when it fails, stops before telling the end.
        withServices.main = [&sink, runMain, fails](const Progress& progress) {
            ASSERT_TRUE(sink) << "the sink is given before the run";
            sink(installer::DownloadProgress{0, 1000});
            sink(installer::DownloadProgress{400, 1000});
            if (!fails)
                sink(std::nullopt);
            runMain(progress);
        };
        const auto model = makeModel(std::move(withServices));
        const Recorder recorder(*model);
        model->setConsent(true);
        model->start();
        worker.runAll();
        EXPECT_FALSE(model->downloadProgress().has_value())
            << "nothing lands before the main queue runs";
        mainQueue.runAll();

        // A failed run clears what its download left.
        EXPECT_EQ(recorder.values(Property::downloadProgress),
                  (std::vector<std::string>{"0/1000", "400/1000", "none"}));
        EXPECT_FALSE(model->downloadProgress().has_value());
        const auto statuses = recorder.values(Property::status);
        ASSERT_GE(statuses.size(), 2U);
        EXPECT_EQ(statuses[1], "Скачиваем официальный OpenCode…");
    }
}

TEST_F(SetupModelTest, SuccessOffersTheSkillsStep) {
    const auto model = startedModel(services());
    finishRun();

    EXPECT_TRUE(model->ready());
    EXPECT_TRUE(model->showSkills());
    EXPECT_EQ(model->skillsStatus(), kNothingSelected);
    EXPECT_TRUE(model->selection().empty());
    EXPECT_FALSE(model->alternateParent().has_value());
}

TEST_F(SetupModelTest, FailureShowsOnlyItsDescription) {
    struct Case {
        const char* name;
        std::function<void(const Progress&)> main; // empty: the record has no run at all
        std::string expectedStatus;
    };
    const std::vector<Case> cases = {
        {"installer failure",
         [](const Progress& progress) {
             progress("Подготавливаем подключение…");
             throw base::InstallerFailure("Не удалось проверить подпись OpenCode.");
         },
         "Не удалось проверить подпись OpenCode."},
        {"installer failure with a code",
         [](const Progress&) {
             throw base::InstallerFailure("Закройте OpenCode и повторите.", "OPENCODE_RUNNING");
         },
         "Закройте OpenCode и повторите."},
        {"platform error",
         [](const Progress&) {
             throw base::PlatformError(ENOENT, "прочитать файл", "/Users/anna/opencode.json");
         },
         "Не удалось прочитать файл «/Users/anna/opencode.json»: нет такого файла или папки."},
        {"other standard error",
         [](const Progress&) { throw std::runtime_error("Ответ сервиса не удалось разобрать."); },
         "Ответ сервиса не удалось разобрать."},
        {"standard error without a description",
         [](const Progress&) { throw std::runtime_error(""); }, kUnexpected},
        {"not a standard exception", [](const Progress&) { throw 42; }, kUnexpected},
        {"no main operation", nullptr, kUnexpected},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        SetupServices withServices = services();
        withServices.main = row.main;
        const auto model = makeModel(std::move(withServices));
        model->setShowSkills(true);
        model->setConsent(true);
        model->start();

        EXPECT_NO_THROW(worker.runAll());
        EXPECT_NO_THROW(mainQueue.runAll());

        EXPECT_TRUE(model->failed());
        EXPECT_FALSE(model->busy());
        EXPECT_FALSE(model->ready());
        EXPECT_FALSE(model->showSkills());
        EXPECT_TRUE(model->consent());
        EXPECT_EQ(model->status(), row.expectedStatus);
    }
}

TEST_F(SetupModelTest, RetryAfterFailureStartsAgainFromTheCheckingText) {
    int attempts = 0;
    const auto model = startedModel(services({"Подготавливаем подключение…"}, [&attempts] {
        if (++attempts == 1)
            throw base::InstallerFailure("Сервис Орвек не ответил.");
    }));
    finishRun();
    ASSERT_TRUE(model->failed());

    model->start();

    EXPECT_FALSE(model->failed());
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(model->status(), kChecking);
    EXPECT_EQ(worker.pending(), 1u);
    finishRun();
    EXPECT_EQ(mainCalls, 2);
    EXPECT_TRUE(model->ready());
    EXPECT_FALSE(model->failed());
    EXPECT_EQ(model->status(), kConnected);
}

TEST_F(SetupModelTest, OpenClientOpensOnlyAfterSuccessAndWhenIdle) {
    int attempts = 0;
    const auto model = makeModel(services({}, [&attempts] {
        if (++attempts == 1)
            throw base::InstallerFailure("Сервис Орвек не ответил.");
    }));

    model->openClient();
    EXPECT_EQ(openCalls, 0) << "before any run";

    model->setConsent(true);
    model->start();
    model->openClient();
    EXPECT_EQ(openCalls, 0) << "while running";

    finishRun();
    model->openClient();
    EXPECT_EQ(openCalls, 0) << "after a failure";

    model->start();
    finishRun();
    ASSERT_TRUE(model->ready());
    model->openClient();
    EXPECT_EQ(openCalls, 1) << "after success";
    model->openClient();
    EXPECT_EQ(openCalls, 2) << "every press opens";

    // A fixture state from the render mode: ready, but busy again.
    model->setBusy(true);
    model->openClient();
    EXPECT_EQ(openCalls, 2) << "busy after success";
}

TEST_F(SetupModelTest, OpenClientWithoutOpenOperationDoesNothing) {
    SetupServices withServices = services();
    withServices.open = nullptr;
    const auto model = startedModel(std::move(withServices));
    finishRun();

    EXPECT_NO_THROW(model->openClient());
}

TEST_F(SetupModelTest, OfferSkillsResetsTheSheetBeforeShowingIt) {
    const auto model = startedModel(services());
    finishRun();
    // A sheet left behind by an earlier, failed installation.
    model->setShowSkills(false);
    model->setSelection({"analyst", "video"});
    model->setCanChooseAlternateFolder(true);
    model->setSkillsFailed(true);
    model->setSkillsSucceeded(true);
    model->setSkillsStatus("Папка занята. OpenCode уже готов. Повторите только навыки.");

    std::vector<std::string> stateWhenShown;
    auto subscription =
        model->observe({nullptr, [&](Property property) {
                            if (property == Property::showSkills)
                                stateWhenShown.push_back(valueOf(*model, Property::selection) +
                                                         "|" + model->skillsStatus());
                        }});
    Recorder recorder(*model);
    model->offerSkills();

    EXPECT_TRUE(model->showSkills());
    EXPECT_TRUE(model->selection().empty());
    EXPECT_FALSE(model->canChooseAlternateFolder());
    EXPECT_FALSE(model->skillsFailed());
    EXPECT_FALSE(model->skillsSucceeded());
    EXPECT_EQ(model->skillsStatus(), kNothingSelected);
    EXPECT_FALSE(model->alternateParent().has_value());
    EXPECT_EQ(stateWhenShown, std::vector<std::string>{std::string("|") + kNothingSelected});
    ASSERT_FALSE(recorder.seen().empty());
    EXPECT_EQ(recorder.seen().back(), (Notification{false, Property::showSkills, "true"}));
    // The main run's state belongs to the main flow and stays as it was.
    EXPECT_TRUE(model->ready());
    EXPECT_EQ(model->status(), kConnected);
}

TEST_F(SetupModelTest, OfferSkillsIsIgnoredBeforeSuccessAndWhileAnythingRuns) {
    struct Case {
        const char* name;
        std::function<void(SetupModel&)> prepare;
    };
    const std::vector<Case> cases = {
        {"before success", [](SetupModel&) {}},
        {"while the main run is busy",
         [](SetupModel& model) {
             model.setReady(true);
             model.setBusy(true);
         }},
        {"while skills are being installed",
         [](SetupModel& model) {
             model.setReady(true);
             model.setSkillsBusy(true);
         }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto model = makeModel(services());
        row.prepare(*model);
        model->setSelection({"designer"});
        model->setSkillsStatus("Добавляем выбранные навыки…");
        Recorder recorder(*model);

        model->offerSkills();

        EXPECT_TRUE(recorder.seen().empty());
        EXPECT_FALSE(model->showSkills());
        EXPECT_EQ(model->selection(), std::set<std::string>{"designer"});
        EXPECT_EQ(model->skillsStatus(), "Добавляем выбранные навыки…");
    }
}

TEST_F(SetupModelTest, SettersNotifyAroundARealChangeOnly) {
    struct Case {
        const char* name;
        Property property;
        std::function<void(SetupModel&)> set;
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"busy", Property::busy, [](SetupModel& m) { m.setBusy(true); }, "false", "true"},
        {"ready", Property::ready, [](SetupModel& m) { m.setReady(true); }, "false", "true"},
        {"failed", Property::failed, [](SetupModel& m) { m.setFailed(true); }, "false", "true"},
        {"consent", Property::consent, [](SetupModel& m) { m.setConsent(true); }, "false", "true"},
        {"status", Property::status, [](SetupModel& m) { m.setStatus(kChecking); }, "", kChecking},
        {"selection", Property::selection,
         [](SetupModel& m) {
             m.setSelection({"video", "analyst"});
         },
         "", "analyst;video;"},
        {"folders", Property::folders, [](SetupModel& m) { m.setFolders({"/Users/anna/Орвек"}); },
         "", "/Users/anna/Орвек;"},
        {"showSkills", Property::showSkills, [](SetupModel& m) { m.setShowSkills(true); }, "false",
         "true"},
        {"skillsBusy", Property::skillsBusy, [](SetupModel& m) { m.setSkillsBusy(true); }, "false",
         "true"},
        {"skillsFailed", Property::skillsFailed, [](SetupModel& m) { m.setSkillsFailed(true); },
         "false", "true"},
        {"skillsSucceeded", Property::skillsSucceeded,
         [](SetupModel& m) { m.setSkillsSucceeded(true); }, "false", "true"},
        {"skillsStatus", Property::skillsStatus,
         [](SetupModel& m) { m.setSkillsStatus(kNothingSelected); }, "", kNothingSelected},
        {"canChooseAlternateFolder", Property::canChooseAlternateFolder,
         [](SetupModel& m) { m.setCanChooseAlternateFolder(true); }, "false", "true"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto model = makeModel(services());
        Recorder recorder(*model);

        row.set(*model);
        EXPECT_EQ(recorder.seen(), (std::vector<Notification>{{true, row.property, row.before},
                                                              {false, row.property, row.after}}));

        row.set(*model);
        EXPECT_EQ(recorder.seen().size(), 2u) << "the same value again must not notify";
    }
}

TEST_F(SetupModelTest, ObserversMayChangeSubscriptionsWhileBeingNotified) {
    const auto model = makeModel(services());
    std::vector<std::string> calls;
    SetupModel::Subscription first, second;
    std::optional<SetupModel::Subscription> late;

    first = model->observe({[&](Property) { calls.push_back("first will"); },
                            [&](Property) {
                                calls.push_back("first did");
                                second.cancel();
                                late = model->observe({
                                    [&](Property) { calls.push_back("late will"); },
                                    [&](Property) { calls.push_back("late did"); },
                                });
                                first.cancel(); // cancels the observer that is running now
                            }});
    second = model->observe({[&](Property) { calls.push_back("second will"); },
                             [&](Property) { calls.push_back("second did"); }});

    model->setStatus("Подготавливаем подключение…");
    EXPECT_EQ(calls, (std::vector<std::string>{"first will", "second will", "first did"}));

    calls.clear();
    model->setStatus("Проверяем подключение…");
    EXPECT_EQ(calls, (std::vector<std::string>{"late will", "late did"}));
}

TEST_F(SetupModelTest, CancelledOrDestroyedSubscriptionsHearNothing) {
    const auto model = makeModel(services());
    int cancelledCalls = 0;
    int destroyedCalls = 0;
    int keptCalls = 0;
    auto cancelled = model->observe({[&](Property) { ++cancelledCalls; }, nullptr});
    auto kept = model->observe({[&](Property) { ++keptCalls; }, nullptr});
    {
        auto destroyed = model->observe({[&](Property) { ++destroyedCalls; }, nullptr});
    }
    cancelled.cancel();
    cancelled.cancel(); // harmless twice

    model->setBusy(true);

    EXPECT_EQ(cancelledCalls, 0);
    EXPECT_EQ(destroyedCalls, 0);
    EXPECT_EQ(keptCalls, 1);
}

TEST_F(SetupModelTest, MovingASubscriptionTransfersTheRegistration) {
    const auto model = makeModel(services());
    int movedCalls = 0;
    int replacedCalls = 0;
    SetupModel::Subscription target = model->observe({[&](Property) { ++replacedCalls; }, {}});
    {
        auto original = model->observe({[&](Property) { ++movedCalls; }, {}});
        SetupModel::Subscription constructed(std::move(original));
        // Assigning over a live registration ends that one.
        target = std::move(constructed);
    }

    model->setBusy(true);

    EXPECT_EQ(movedCalls, 1);
    EXPECT_EQ(replacedCalls, 0);
    target.cancel();
    model->setBusy(false);
    EXPECT_EQ(movedCalls, 1);
}

TEST_F(SetupModelTest, SubscriptionOutlivingTheModelIsHarmless) {
    auto model = makeModel(services());
    auto cancelledLater = model->observe({[](Property) {}, {}});
    auto destroyedLater = model->observe({[](Property) {}, {}});
    const std::weak_ptr<SetupModel> watch = model;

    model.reset();

    ASSERT_TRUE(watch.expired());
    cancelledLater.cancel();
    // destroyedLater ends with the test, after the model.
}

TEST_F(SetupModelTest, PendingTasksKeepTheModelAlive) {
    auto model = startedModel(services({"Подготавливаем подключение…"}));
    const std::weak_ptr<SetupModel> watch = model;
    model.reset();

    EXPECT_FALSE(watch.expired()) << "held by the worker's task";
    worker.runAll();
    EXPECT_FALSE(watch.expired()) << "held by the main-thread tasks";
    mainQueue.runOne();
    ASSERT_FALSE(watch.expired()) << "held by the outcome task";
    EXPECT_EQ(watch.lock()->status(), "Подготавливаем подключение…");
    mainQueue.runAll();
    EXPECT_TRUE(watch.expired());
}

TEST(SetupModelOnThreadsTest, RunsMainOnAWorkerThreadAndChangesStateOnlyOnTheMainThread) {
    // Generous bound so a lost task fails the test instead of hanging it.
    constexpr auto kTimeout = std::chrono::seconds(20);
    const auto mainThread = std::this_thread::get_id();
    std::promise<std::thread::id> mainRanOn;
    std::promise<void> workerDrained;
    ManualExecutor mainQueue;
    ThreadExecutor worker(1);

    SetupServices withServices;
    withServices.main = [&](const Progress& progress) {
        mainRanOn.set_value(std::this_thread::get_id());
        for (const auto& text : freshConnectionTexts())
            progress(text);
    };
    const auto model = SetupModel::create(std::move(withServices), mainQueue, worker);
    std::vector<std::thread::id> notifiedOn;
    std::vector<std::string> statuses;
    auto subscription = model->observe({nullptr, [&](Property property) {
                                            notifiedOn.push_back(std::this_thread::get_id());
                                            if (property == Property::status)
                                                statuses.push_back(model->status());
                                        }});
    model->setConsent(true);
    model->start();
    // One worker thread runs in posting order: this task ends after the model's run and its
    // submissions to the main queue, so the queue is not touched while it is pumped below.
    worker.post([&] { workerDrained.set_value(); });
    ASSERT_EQ(workerDrained.get_future().wait_for(kTimeout), std::future_status::ready);

    while (!model->ready() && mainQueue.runOne()) {
    }

    ASSERT_TRUE(model->ready());
    EXPECT_NE(mainRanOn.get_future().get(), mainThread);
    // The first text repeats the one `start` set, so observers hear it once.
    std::vector<std::string> expected = freshConnectionTexts();
    expected.push_back(kConnected);
    EXPECT_EQ(statuses, expected);
    for (const auto& id : notifiedOn)
        EXPECT_EQ(id, mainThread);
}

// The test program ships no resource folder beside it, as a broken installation would not.
TEST(SetupModelDefaults, WithoutTheApplicationsResourcesNoModelIsBuilt) {
    class NoWorkspace final : public Workspace {
    public:
        void openApplication(const std::filesystem::path&) override { ADD_FAILURE(); }
        void openUrl(const std::string&) override { ADD_FAILURE(); }
    } workspace;
    test::ManualExecutor queue;
    try {
        (void)SetupModel::create(workspace, queue, queue);
        ADD_FAILURE() << "a model without resources";
    } catch (const base::InstallerFailure& failure) {
        EXPECT_EQ(failure.message(), "Не найдены файлы мастера. Переустановите приложение.");
    }
}

} // namespace
} // namespace orvek::setup
