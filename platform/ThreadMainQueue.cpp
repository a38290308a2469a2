#include "platform/ThreadMainQueue.hpp"

#include <algorithm>
#include <chrono>
#include <future>
#include <utility>

namespace brindleaf {

namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

ThreadMainQueue::ThreadMainQueue() : thread_([this] { loop(); }) {}

ThreadMainQueue::~ThreadMainQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ThreadMainQueue::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(job));
    }
    wake_.notify_all();
}

void ThreadMainQueue::postAfter(double delaySeconds, Job job) {
    {
        std::lock_guard lock(mutex_);
        delayed_.push_back({steadySeconds() + std::max(0.0, delaySeconds), nextOrder_++, std::move(job)});
    }
    wake_.notify_all();
}

double ThreadMainQueue::now() const { return steadySeconds(); }

void ThreadMainQueue::runAndWait(Job job) {
    std::promise<void> done;
    auto finished = done.get_future();
    post([&] {
        try {
            job();
        } catch (...) {
            done.set_exception(std::current_exception());
            return;
        }
        done.set_value();
    });
    finished.get();
}

void ThreadMainQueue::loop() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (stopping_) return;
        double current = steadySeconds();
        auto due = std::min_element(delayed_.begin(), delayed_.end(), [](const Delayed& a, const Delayed& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (due != delayed_.end() && due->due <= current) {
            ready_.push_back(std::move(due->job));
            delayed_.erase(due);
            continue;
        }
        if (!ready_.empty()) {
            Job job = std::move(ready_.front());
            ready_.pop_front();
            lock.unlock();
            if (job) job();
            lock.lock();
            continue;
        }
        if (due != delayed_.end()) {
            wake_.wait_for(lock, std::chrono::duration<double>(due->due - current));
        } else {
            wake_.wait(lock);
        }
    }
}

} // namespace brindleaf
