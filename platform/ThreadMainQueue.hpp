#pragma once

#include "platform/MainQueue.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace brindleaf {

// A serial queue backed by one thread of its own. The headless modes use it
// to run their one operation and wait for it; it also serves as the worker
// that carries out cloud calls in order. The destructor lets the running job
// finish, drops the rest and joins the thread.
class ThreadMainQueue final : public MainQueue {
public:
    ThreadMainQueue();
    ~ThreadMainQueue() override;
    ThreadMainQueue(const ThreadMainQueue&) = delete;
    ThreadMainQueue& operator=(const ThreadMainQueue&) = delete;

    void post(Job job) override;
    void postAfter(double delaySeconds, Job job) override;
    double now() const override;

    // Posts the job and blocks the caller until it has run. Must not be
    // called from the queue's own thread.
    void runAndWait(Job job);

private:
    struct Delayed {
        double due;
        unsigned long long order;
        Job job;
    };

    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    unsigned long long nextOrder_ = 0;
    std::deque<Job> ready_;
    std::vector<Delayed> delayed_;
    std::thread thread_;
};

} // namespace brindleaf
