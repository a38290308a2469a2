#include "platform/ManualMainQueue.hpp"

#include <algorithm>
#include <utility>

namespace brindleaf {

ManualMainQueue::ManualMainQueue(double startTime) : now_(startTime) {}

void ManualMainQueue::post(Job job) {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(job));
}

void ManualMainQueue::postAfter(double delaySeconds, Job job) {
    std::lock_guard lock(mutex_);
    delayed_.push_back({now_ + std::max(0.0, delaySeconds), nextOrder_++, std::move(job)});
}

double ManualMainQueue::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualMainQueue::promoteDueLocked() {
    std::vector<Delayed> due;
    auto it = std::stable_partition(delayed_.begin(), delayed_.end(),
                                    [&](const Delayed& d) { return d.due > now_; });
    std::move(it, delayed_.end(), std::back_inserter(due));
    delayed_.erase(it, delayed_.end());
    std::sort(due.begin(), due.end(), [](const Delayed& a, const Delayed& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    for (auto& d : due) ready_.push_back(std::move(d.job));
}

bool ManualMainQueue::runOne() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        promoteDueLocked();
        if (ready_.empty()) return false;
        job = std::move(ready_.front());
        ready_.pop_front();
    }
    if (job) job();
    return true;
}

std::size_t ManualMainQueue::drain() {
    std::size_t count = 0;
    while (runOne()) ++count;
    return count;
}

std::size_t ManualMainQueue::advance(double seconds) {
    {
        std::lock_guard lock(mutex_);
        now_ += std::max(0.0, seconds);
    }
    return drain();
}

std::size_t ManualMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    std::size_t due = 0;
    for (const auto& d : delayed_)
        if (d.due <= now_) ++due;
    return ready_.size() + due;
}

std::size_t ManualMainQueue::delayedCount() const {
    std::lock_guard lock(mutex_);
    std::size_t waiting = 0;
    for (const auto& d : delayed_)
        if (d.due > now_) ++waiting;
    return waiting;
}

} // namespace brindleaf
