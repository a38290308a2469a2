#pragma once

#include "platform/LogSink.hpp"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace brindleaf {

// Keeps every line in memory, for tests.
class MemoryLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
        added_.notify_all();
    }
    // Whether a line that `matches` was written within `seconds` (or before).
    bool waitFor(const std::function<bool(const LogRecord&)>& matches, double seconds) const {
        std::unique_lock lock(mutex_);
        return added_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
            for (const auto& record : records_)
                if (matches(record)) return true;
            return false;
        });
    }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& r : records_) out.push_back(r.message);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::vector<LogRecord> records_;
};

} // namespace brindleaf
