#pragma once

#include "platform/MainQueue.hpp"

#include <memory>

namespace brindleaf {

// One cancellable job on a main queue: scheduling again cancels the job still
// waiting, and destroying the action cancels it too, so a job never runs after
// its owner is gone. Used on the queue's own thread.
class DelayedAction {
public:
    DelayedAction() = default;
    ~DelayedAction() { cancel(); }
    DelayedAction(const DelayedAction&) = delete;
    DelayedAction& operator=(const DelayedAction&) = delete;

    // Replaces any waiting job by `job`, run `delaySeconds` from now.
    void schedule(MainQueue& queue, double delaySeconds, MainQueue::Job job);
    // Drops the waiting job, if any.
    void cancel();
    // A job is scheduled and has neither run nor been cancelled.
    bool isPending() const;

private:
    struct Token {
        bool cancelled = false;
        bool started = false;
    };
    std::shared_ptr<Token> token_;
};

} // namespace brindleaf
