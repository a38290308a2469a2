#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace brindleaf {

// Background threads for work that may block for long (a status load waits
// for slow provider scans). It keeps at least `minimumThreads` threads and
// starts another, up to `maximumThreads`, when a job arrives while every
// thread is busy, so one hung job does not hold up the next. Jobs start in
// the order submitted.
//
// Destroying the pool drops the jobs that have not started and never waits
// for a running one: each thread ends once its current job has returned.
class WorkerPool {
public:
    explicit WorkerPool(std::size_t minimumThreads = 2, std::size_t maximumThreads = 4);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);

    // Threads started so far.
    std::size_t threadCount() const;

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);
    void startThread();

    std::shared_ptr<Shared> shared_;
    std::size_t maximumThreads_;
};

} // namespace brindleaf
