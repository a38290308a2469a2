#pragma once

#include "tests/support/WaitableLogSink.hpp"

#include <memory>
#include <string>

namespace brindleaf::testing {

// The program's log lines, kept in memory while the object lives; the
// process's own sink is put back after. `log->messages()` are the lines so
// far. With `Lines::withDebug` the per-refresh (debug) lines are logged too
// meanwhile.
class CapturedLog {
public:
    enum class Lines { usual, withDebug };

    explicit CapturedLog(Lines lines = Lines::usual);
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    WaitableLogSink* operator->() const { return sink_.get(); }
    WaitableLogSink& operator*() const { return *sink_; }

    // Whether this exact line was logged.
    bool contains(const std::string& message) const;

private:
    std::shared_ptr<WaitableLogSink> sink_ = std::make_shared<WaitableLogSink>();
    bool debug_;
};

} // namespace brindleaf::testing
