#include "platform/DelayedAction.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/WorkerPool.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace brindleaf;

TEST(DelayedAction, RunsOnceWhenDueAndNeverAfterCancelRescheduleOrDestruction) {
    ManualMainQueue queue;
    std::vector<std::string> ran;
    DelayedAction action;
    action.schedule(queue, 1.0, [&] { ran.push_back("first"); });
    EXPECT_TRUE(action.isPending());
    queue.advance(0.5);
    action.schedule(queue, 1.0, [&] { ran.push_back("second"); }); // replaces the first
    queue.advance(0.6);
    EXPECT_TRUE(ran.empty());
    queue.advance(0.4);
    EXPECT_EQ(ran, std::vector<std::string>{"second"});
    EXPECT_FALSE(action.isPending());

    action.schedule(queue, 1.0, [&] { ran.push_back("cancelled"); });
    action.cancel();
    EXPECT_FALSE(action.isPending());
    {
        DelayedAction gone;
        gone.schedule(queue, 1.0, [&] { ran.push_back("destroyed"); });
    }
    queue.advance(2);
    EXPECT_EQ(ran, std::vector<std::string>{"second"});
}

TEST(WorkerPool, AJobStartsWhileEarlierOnesAreBlocked) {
    WorkerPool pool(2, 4);
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    auto blocker = [&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
    };
    pool.submit(blocker);
    pool.submit(blocker);
    std::promise<void> third;
    pool.submit([&] { third.set_value(); });
    EXPECT_EQ(third.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_LE(pool.threadCount(), 4u);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
}
