#pragma once

#include <functional>

namespace brindleaf {

// The serial queue that owns the application's main-thread state. Work posted
// to it runs one job at a time, in the order posted (delayed jobs when their
// time has come). post() and postAfter() may be called from any thread.
class MainQueue {
public:
    using Job = std::function<void()>;

    virtual ~MainQueue() = default;

    virtual void post(Job job) = 0;
    // Runs the job no earlier than `delaySeconds` from now (monotonic clock).
    virtual void postAfter(double delaySeconds, Job job) = 0;
    // The queue's monotonic clock, in seconds.
    virtual double now() const = 0;
};

} // namespace brindleaf
