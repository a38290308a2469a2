#pragma once

#include "platform/MainQueue.hpp"

#include <memory>

class QObject;

namespace brindleaf {

// The main queue of the tray application: jobs run on the Qt event loop of
// the thread that owns the application object, in the order posted; delayed
// jobs run from single-shot precise timers, never early. now() is the
// monotonic clock. post() and postAfter() may be called from any thread;
// jobs still waiting when the queue is destroyed never run.
class QtMainQueue final : public MainQueue {
public:
    // Needs a QCoreApplication (or QApplication).
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(Job job) override;
    void postAfter(double delaySeconds, Job job) override;
    double now() const override;

private:
    std::unique_ptr<QObject> context_;
};

} // namespace brindleaf
