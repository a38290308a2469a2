#pragma once

#include "platform/LogSink.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace brindleaf::testing {

// Keeps log lines and lets a test wait for them to appear.
class WaitableLogSink final : public LogSink {
public:
    // How long a wait lasts at the most: reached only when a test fails.
    static constexpr std::chrono::milliseconds patience{10'000};

    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    std::vector<std::string> messages() const;
    // Waits until `count` lines start with `prefix`.
    bool waitForPrefix(const std::string& prefix, std::size_t count = 1);
    // How many lines start with `prefix`.
    std::size_t count(const std::string& prefix) const;
    void clear();

private:
    std::size_t countLocked(const std::string& prefix) const;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LogRecord> records_;
};

} // namespace brindleaf::testing
