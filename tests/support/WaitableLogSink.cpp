#include "tests/support/WaitableLogSink.hpp"

#include <algorithm>

namespace brindleaf::testing {

void WaitableLogSink::write(const LogRecord& record) {
    {
        std::lock_guard guard(mutex_);
        records_.push_back(record);
    }
    changed_.notify_all();
}

std::vector<LogRecord> WaitableLogSink::records() const {
    std::lock_guard guard(mutex_);
    return records_;
}

std::vector<std::string> WaitableLogSink::messages() const {
    std::vector<std::string> out;
    for (const auto& record : records()) out.push_back(record.message);
    return out;
}

bool WaitableLogSink::waitForPrefix(const std::string& prefix, std::size_t count) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, patience, [&] { return countLocked(prefix) >= count; });
}

std::size_t WaitableLogSink::count(const std::string& prefix) const {
    std::lock_guard guard(mutex_);
    return countLocked(prefix);
}

void WaitableLogSink::clear() {
    std::lock_guard guard(mutex_);
    records_.clear();
}

std::size_t WaitableLogSink::countLocked(const std::string& prefix) const {
    return std::count_if(records_.begin(), records_.end(),
                         [&](const LogRecord& r) { return r.message.rfind(prefix, 0) == 0; });
}

} // namespace brindleaf::testing
