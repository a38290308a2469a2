#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brindleaf::testing {

// A one-way switch that threads can wait on.
class Gate {
public:
    // How long a wait lasts at the most: reached only when a test fails.
    static constexpr std::chrono::milliseconds patience{10'000};

    void open() {
        {
            std::lock_guard guard(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    // Whether it opened within the limit.
    bool wait(std::chrono::milliseconds limit = patience) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, limit, [this] { return open_; });
    }
    bool isOpen() const {
        std::lock_guard guard(mutex_);
        return open_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

} // namespace brindleaf::testing
