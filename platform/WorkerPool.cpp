#include "platform/WorkerPool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace brindleaf {

struct WorkerPool::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    std::size_t threads = 0;
    std::size_t idle = 0;
    bool stopping = false;
};

WorkerPool::WorkerPool(std::size_t minimumThreads, std::size_t maximumThreads)
    : shared_(std::make_shared<Shared>()), maximumThreads_(std::max<std::size_t>(1, maximumThreads)) {
    std::size_t initial = std::min(std::max<std::size_t>(1, minimumThreads), maximumThreads_);
    for (std::size_t i = 0; i < initial; ++i) startThread();
}

WorkerPool::~WorkerPool() {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    shared_->jobs.clear();
    shared_->wake.notify_all();
}

void WorkerPool::startThread() {
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->threads;
    }
    std::thread([shared = shared_] { run(shared); }).detach();
}

void WorkerPool::submit(std::function<void()> job) {
    bool needThread = false;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
        needThread = shared_->idle < shared_->jobs.size() && shared_->threads < maximumThreads_;
        shared_->wake.notify_one();
    }
    if (needThread) startThread();
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->threads;
}

void WorkerPool::run(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->mutex);
    while (true) {
        ++shared->idle;
        shared->wake.wait(lock, [&] { return shared->stopping || !shared->jobs.empty(); });
        --shared->idle;
        if (shared->stopping) break;
        auto job = std::move(shared->jobs.front());
        shared->jobs.pop_front();
        lock.unlock();
        if (job) job();
        job = nullptr;
        lock.lock();
    }
    --shared->threads;
}

} // namespace brindleaf
