#include "platform/ManualMainQueue.hpp"
#include "platform/ThreadMainQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace brindleaf;

TEST(ManualMainQueue, RunsJobsInOrderOnlyWhenDrainedAndDelayedOnesWhenDue) {
    ManualMainQueue queue(100);
    std::vector<std::string> ran;
    queue.postAfter(2, [&] { ran.push_back("late"); });
    queue.postAfter(1, [&] { ran.push_back("soon"); });
    queue.post([&] {
        ran.push_back("first");
        queue.post([&] { ran.push_back("posted while draining"); });
    });
    queue.post([&] { ran.push_back("second"); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.pendingCount(), 2u);
    EXPECT_EQ(queue.drain(), 3u);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "posted while draining"}));
    EXPECT_EQ(queue.delayedCount(), 2u);
    queue.advance(1.5);
    EXPECT_EQ(ran.back(), "soon");
    EXPECT_EQ(queue.now(), 101.5);
    queue.advance(0.5);
    EXPECT_EQ(ran.back(), "late");
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(ThreadMainQueue, RunsJobsSeriallyInOrderOnItsOwnThread) {
    ThreadMainQueue queue;
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 50; ++i) {
        queue.post([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    std::thread::id worker;
    queue.runAndWait([&] { worker = std::this_thread::get_id(); });
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_THROW(queue.runAndWait([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST(ThreadMainQueue, DelayedJobsWaitForTheirTime) {
    ThreadMainQueue queue;
    std::promise<double> fired;
    double start = queue.now();
    queue.postAfter(0.05, [&] { fired.set_value(queue.now()); });
    queue.post([] {});
    double at = fired.get_future().get();
    EXPECT_GE(at - start, 0.05);
}
