#pragma once

#include "platform/LogSink.hpp"

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Keeps every line with the monotonic time (steady clock, seconds) it was written, for tests and
// benchmarks that measure how long after some event a line appeared.
class TimedLogSink final : public LogSink {
public:
    struct Line {
        double monotonicTime = 0;
        LogRecord record;
    };

    void write(const LogRecord& record) override {
        double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        std::lock_guard lock(mutex_);
        lines_.push_back({now, record});
    }
    std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The messages that begin with `prefix`, in order.
    std::vector<std::string> messagesStartingWith(std::string_view prefix) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& line : lines_)
            if (line.record.message.starts_with(prefix)) out.push_back(line.record.message);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

} // namespace brindleaf
