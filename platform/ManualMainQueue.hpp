#pragma once

#include "platform/MainQueue.hpp"

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace brindleaf {

// A main queue that runs nothing by itself: the owner drains it and moves its
// clock explicitly. Used by tests to step through asynchronous work.
class ManualMainQueue final : public MainQueue {
public:
    explicit ManualMainQueue(double startTime = 0);

    void post(Job job) override;
    void postAfter(double delaySeconds, Job job) override;
    double now() const override;

    // Runs posted jobs (and delayed jobs that are due) until none is left,
    // including jobs posted while draining. Returns how many ran.
    std::size_t drain();
    // Runs only the oldest ready job; false when none is ready.
    bool runOne();
    // Moves the clock forward, then drains.
    std::size_t advance(double seconds);
    // Jobs ready to run now.
    std::size_t pendingCount() const;
    // Delayed jobs not yet due.
    std::size_t delayedCount() const;

private:
    struct Delayed {
        double due;
        unsigned long long order;
        Job job;
    };

    void promoteDueLocked();

    mutable std::mutex mutex_;
    double now_;
    unsigned long long nextOrder_ = 0;
    std::deque<Job> ready_;
    std::vector<Delayed> delayed_;
};

} // namespace brindleaf
