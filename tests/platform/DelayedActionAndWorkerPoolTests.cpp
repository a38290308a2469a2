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
    // The pool's threads are detached: whatever a job touches must outlive
    // this test, so the gate is shared with the jobs rather than on the stack.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool release = false;
        int finished = 0;
    };
    auto gate = std::make_shared<Gate>();
    WorkerPool pool(2, 4);
    auto blocker = [gate] {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [&] { return gate->release; });
        ++gate->finished;
        gate->changed.notify_all();
    };
    pool.submit(blocker);
    pool.submit(blocker);
    auto third = std::make_shared<std::promise<void>>();
    auto thirdRan = third->get_future();
    pool.submit([third] { third->set_value(); });
    EXPECT_EQ(thirdRan.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_LE(pool.threadCount(), 4u);
    std::unique_lock lock(gate->mutex);
    gate->release = true;
    gate->changed.notify_all();
    EXPECT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate->finished == 2; }));
}
