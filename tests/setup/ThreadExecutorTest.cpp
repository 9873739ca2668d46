#include "setup/ThreadExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace orvek::setup {
namespace {

// Generous bound so a broken executor fails the test instead of hanging it.
constexpr auto kTimeout = std::chrono::seconds(20);

// In each test the executor is declared after everything its tasks use by reference, so it
// joins its threads before that state goes away.

TEST(ThreadExecutorTest, RunsTasksOnAnotherThread) {
    std::promise<std::thread::id> ranOn;
    ThreadExecutor executor(1);
    executor.post([&] { ranOn.set_value(std::this_thread::get_id()); });

    auto future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(kTimeout), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

TEST(ThreadExecutorTest, OneThreadRunsTasksInPostingOrder) {
    constexpr int kCount = 200;
    std::vector<int> order;
    std::promise<void> done;
    ThreadExecutor executor(1);
    for (int i = 0; i < kCount; ++i)
        executor.post([&order, i] { order.push_back(i); });
    executor.post([&] { done.set_value(); });

    ASSERT_EQ(done.get_future().wait_for(kTimeout), std::future_status::ready);
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

TEST(ThreadExecutorTest, PoolRunsBlockingTasksAtTheSameTime) {
    // Each task finishes only once the other has started, which one thread could never do.
    std::promise<void> firstStarted, secondStarted;
    std::promise<bool> firstSawSecond, secondSawFirst;
    auto firstGo = firstStarted.get_future().share();
    auto secondGo = secondStarted.get_future().share();
    ThreadExecutor executor(2);

    executor.post([&, secondGo] {
        firstStarted.set_value();
        firstSawSecond.set_value(secondGo.wait_for(kTimeout) == std::future_status::ready);
    });
    executor.post([&, firstGo] {
        secondStarted.set_value();
        secondSawFirst.set_value(firstGo.wait_for(kTimeout) == std::future_status::ready);
    });

    EXPECT_TRUE(firstSawSecond.get_future().get());
    EXPECT_TRUE(secondSawFirst.get_future().get());
}

TEST(ThreadExecutorTest, DestructionWaitsForRunningTaskAndDropsQueuedOnes) {
    std::promise<void> started;
    std::atomic<bool> runningFinished = false;
    std::atomic<bool> queuedRan = false;
    std::promise<void> queuedReleased;
    auto queuedGone = queuedReleased.get_future();
    std::optional<ThreadExecutor> executor(std::in_place, 1);
    // Destroyed before the executor even on an early return: the blocked task then wakes up.
    std::promise<void> release;

    executor->post([&, go = release.get_future().share()] {
        started.set_value();
        go.wait();
        runningFinished = true;
    });
    {
        // The queued task tells when the executor lets go of it, whether or not it ran.
        std::shared_ptr<void> token(nullptr, [&](void*) { queuedReleased.set_value(); });
        executor->post([&queuedRan, token] { queuedRan = true; });
    }
    ASSERT_EQ(started.get_future().wait_for(kTimeout), std::future_status::ready);

    auto destroyed = std::async(std::launch::async, [&] { executor.reset(); });
    // No early return from here on: the destroyer waits for the release below.
    EXPECT_EQ(queuedGone.wait_for(kTimeout), std::future_status::ready);
    EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "destruction did not wait for the running task";
    EXPECT_FALSE(runningFinished);

    release.set_value();
    destroyed.get();
    EXPECT_TRUE(runningFinished);
    EXPECT_FALSE(queuedRan);
}

} // namespace
} // namespace orvek::setup
