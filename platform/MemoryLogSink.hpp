#pragma once

#include "platform/LogSink.hpp"

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
    std::vector<LogRecord> records_;
};

} // namespace brindleaf
