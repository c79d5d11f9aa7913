#include "platform/foundation/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "TestSupport.h"

namespace {

using platform::Dispatch;
using platform::MainRunLoop;
using platform::QualityOfService;

TEST(Dispatch, MainQueueRunsInOrderOnlyWhenTheLoopRuns) {
    std::vector<int> order;
    Dispatch::asyncMain([&] { order.push_back(1); });
    Dispatch::asyncMain([&] {
        order.push_back(2);
        Dispatch::asyncMain([&] { order.push_back(4); });
    });
    Dispatch::asyncMain([&] { order.push_back(3); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(MainRunLoop::runPending(), 3u)
        << "blocks queued while running wait for the next turn";
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    testing_support::drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(Dispatch, GlobalQueuesRunOffTheMainThreadAndIdleWaitsForThem) {
    std::atomic<bool> ranOnMain{true};
    bool completedOnMain = false;
    Dispatch::asyncGlobal(QualityOfService::defaultClass, [&] {
        ranOnMain = Dispatch::isMainThread();
        Dispatch::asyncMain([&] { completedOnMain = Dispatch::isMainThread(); });
    });
    testing_support::drain();
    EXPECT_FALSE(ranOnMain);
    EXPECT_TRUE(completedOnMain);
}

TEST(Dispatch, RunUntilStopsAtTheConditionOrTheTimeBound) {
    int ticks = 0;
    for (int i = 0; i < 5; ++i)
        Dispatch::asyncMain([&] { ++ticks; });
    EXPECT_TRUE(MainRunLoop::runUntil([&] { return ticks == 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(ticks, 2);
    testing_support::drain();
    EXPECT_FALSE(MainRunLoop::runUntil([] { return false; }, std::chrono::milliseconds(30)));
}

}  // namespace
