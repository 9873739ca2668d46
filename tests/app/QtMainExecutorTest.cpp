#include "app/QtMainExecutor.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

namespace orvek::app {
namespace {

TEST(QtMainExecutor, RunsTasksOnTheMainThreadInPostingOrder) {
    QtMainExecutor executor;
    std::vector<int> order;
    std::vector<bool> onMainThread;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            executor.post([&, i] {
                order.push_back(i);
                onMainThread.push_back(QThread::currentThread() ==
                                       QCoreApplication::instance()->thread());
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty()) << "tasks must wait for the event loop";
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(order.size()), 50, 5000);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(std::count(onMainThread.begin(), onMainThread.end(), false), 0);
}

TEST(QtMainExecutor, AThrowingTaskDoesNotStopTheOthers) {
    QtMainExecutor executor;
    int ran = 0;
    executor.post([] { throw std::runtime_error("boom"); });
    executor.post([&] { ++ran; });
    QTRY_COMPARE_WITH_TIMEOUT(ran, 1, 5000);
}

TEST(QtMainExecutor, DropsTasksWhenDestroyed) {
    int ran = 0;
    {
        QtMainExecutor executor;
        executor.post([&] { ++ran; });
    }
    QCoreApplication::processEvents();
    QTest::qWait(10);
    EXPECT_EQ(ran, 0);
}

} // namespace
} // namespace orvek::app
