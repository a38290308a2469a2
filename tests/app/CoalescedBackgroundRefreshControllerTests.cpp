#include "app/CoalescedBackgroundRefreshController.hpp"
#include "platform/ManualMainQueue.hpp"
#include "tests/support/CapturedLog.hpp"
#include "tests/support/ScopedGermanLocale.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace brindleaf;
using brindleaf::testing::CapturedLog;
using brindleaf::testing::ScopedGermanLocale;

namespace {

using Coalescer = CoalescedBackgroundRefreshController<int>;

// Load steps wait here until the test runs them.
struct HeldRunner {
    std::deque<std::function<void()>> jobs;
    Coalescer::Runner runner() {
        return [this](std::function<void()> job) { jobs.push_back(std::move(job)); };
    }
    void runFirst() {
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
    }
};

class CoalescerTest : public ::testing::Test {
protected:
    void request(std::shared_ptr<Coalescer>& coalescer, const std::string& name, int value = 0) {
        coalescer->request(
            10, [value](Date) { return value; },
            [this, name](const int& v) { events.push_back(name + ":apply" + std::to_string(v)); },
            [this, name] { events.push_back(name + ":timeout"); });
    }

    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    HeldRunner runner;
    std::vector<std::string> events;
    // The per-refresh lines these tests read; last, so it ends first.
    CapturedLog sink{CapturedLog::Lines::withDebug};
};

} // namespace

TEST_F(CoalescerTest, RequestsDuringARunLeaveOnlyTheNewestWaiting) {
    auto coalescer = Coalescer::make(queue, runner.runner(), 30);
    request(coalescer, "a", 1);
    request(coalescer, "b", 2);
    request(coalescer, "c", 3);
    ASSERT_EQ(runner.jobs.size(), 1u);
    runner.runFirst();
    queue->drain();
    ASSERT_EQ(runner.jobs.size(), 1u);
    runner.runFirst();
    queue->drain();
    EXPECT_EQ(events, (std::vector<std::string>{"a:apply1", "c:apply3"}));
    EXPECT_EQ(coalescer->requestSequence(), 2);
    EXPECT_EQ(sink->messages(),
              (std::vector<std::string>{"refresh.started id=1", "refresh.coalesced", "refresh.coalesced",
                                        "refresh.finished id=1 elapsedMs=0 applied=true", "refresh.started id=2",
                                        "refresh.finished id=2 elapsedMs=0 applied=true"}));
    queue->advance(60); // the time-outs of finished runs do nothing
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(CoalescerTest, ATimedOutRunNeverAppliesAndThePendingOneStartsAtTheTimeOut) {
    auto coalescer = Coalescer::make(queue, runner.runner(), 30);
    request(coalescer, "slow", 1);
    request(coalescer, "next", 2);
    queue->advance(30);
    EXPECT_EQ(events, std::vector<std::string>{"slow:timeout"});
    ASSERT_EQ(runner.jobs.size(), 2u); // the next run loads while the late one still runs
    EXPECT_EQ(coalescer->activeRequestID(), 2);
    runner.runFirst();
    queue->drain();
    runner.runFirst();
    queue->advance(0.25);
    EXPECT_EQ(events, (std::vector<std::string>{"slow:timeout", "next:apply2"}));
    auto messages = sink->messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "refresh.timeout id=1 timeout=30.000000"), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "refresh.dropped id=1"), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "refresh.finished id=2 elapsedMs=250 applied=true"),
              messages.end());
}

TEST_F(CoalescerTest, TheTimeOutLineKeepsItsDecimalPointUnderAGermanLocale) {
    ScopedGermanLocale german;
    ASSERT_TRUE(german.active()) << german.problem();
    auto coalescer = Coalescer::make(queue, runner.runner(), 2.5);
    request(coalescer, "slow", 1);
    queue->advance(2.5);
    EXPECT_EQ(sink->messages().back(), "refresh.timeout id=1 timeout=2.500000");
}

TEST_F(CoalescerTest, WithoutTimeLimitNothingIsScheduledAndARequestFromApplyRunsNext) {
    auto coalescer = Coalescer::make(queue, runner.runner(), 0);
    coalescer->request(
        0, [](Date) { return 1; },
        [&](const int&) {
            events.push_back("first");
            request(coalescer, "from-apply", 2);
            EXPECT_TRUE(coalescer->hasPendingRequest());
        },
        [] {});
    EXPECT_EQ(queue->delayedCount(), 0u);
    runner.runFirst();
    queue->drain();
    ASSERT_EQ(runner.jobs.size(), 1u);
    EXPECT_EQ(coalescer->activeRequestID(), 2);
    runner.runFirst();
    queue->drain();
    EXPECT_EQ(events, (std::vector<std::string>{"first", "from-apply:apply2"}));
}

TEST_F(CoalescerTest, ACompletionAfterTheControllerIsGoneDoesNothing) {
    auto coalescer = Coalescer::make(queue, runner.runner(), 30);
    request(coalescer, "a", 1);
    coalescer.reset();
    runner.runFirst();
    queue->advance(60);
    EXPECT_TRUE(events.empty());
}

TEST_F(CoalescerTest, AWaitingRequestLoadsWithTheTimeItWasMadeWith) {
    auto coalescer = Coalescer::make(queue, runner.runner(), 30);
    std::vector<Date> loadedAt;
    const auto requestAt = [&](Date now) {
        coalescer->request(
            now,
            [&loadedAt](Date at) {
                loadedAt.push_back(at);
                return 0;
            },
            [](const int&) {}, [] {});
    };
    requestAt(100);
    requestAt(200);
    requestAt(300); // replaces the request made at 200
    queue->advance(5);
    runner.runFirst();
    queue->advance(5);
    runner.runFirst();
    queue->drain();
    EXPECT_EQ(loadedAt, (std::vector<Date>{100, 300}));
}
