#include "platform/BackgroundWorkers.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace brindleaf {

namespace {

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    int workers = 0;
    int idle = 0;
};

// Never destroyed: workers may still use it while the process exits.
State& state() {
    static State* shared = new State;
    return *shared;
}

void work(State& s) {
    std::unique_lock lock(s.mutex);
    while (true) {
        ++s.idle;
        s.wake.wait(lock, [&] { return !s.jobs.empty(); });
        --s.idle;
        auto job = std::move(s.jobs.front());
        s.jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // release what the job held before waiting again
        lock.lock();
    }
}

} // namespace

bool BackgroundWorkers::run(std::function<void()> job) {
    State& s = state();
    std::lock_guard guard(s.mutex);
    s.jobs.push_back(std::move(job));
    if (s.idle > static_cast<int>(s.jobs.size()) - 1 || s.workers >= maxWorkers) {
        s.wake.notify_one();
        return true;
    }
    try {
        std::thread([&s] { work(s); }).detach();
        ++s.workers;
    } catch (const std::system_error&) {
        if (s.workers == 0) {
            s.jobs.pop_back();
            return false;
        }
        s.wake.notify_one();
    }
    return true;
}

} // namespace brindleaf
