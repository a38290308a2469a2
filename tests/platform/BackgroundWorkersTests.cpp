#include "platform/BackgroundWorkers.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace brindleaf;

TEST(BackgroundWorkers, MoreJobsThanWorkersAllRun) {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int started = 0;
    int finished = 0;
    const int jobs = BackgroundWorkers::maxWorkers + 3;
    for (int i = 0; i < jobs; ++i) {
        ASSERT_TRUE(BackgroundWorkers::run([&] {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
            ++finished;
            changed.notify_all();
        }));
    }
    std::unique_lock lock(mutex);
    // At most maxWorkers jobs run at once: the rest wait for a free worker.
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return started >= 1; }));
    EXPECT_LE(started, BackgroundWorkers::maxWorkers);
    released = true;
    changed.notify_all();
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return finished == jobs; }));
}
