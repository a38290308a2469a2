#pragma once

#include "platform/MemoryLogSink.hpp"

#include <memory>
#include <string>

namespace brindleaf::testing {

// The program's log lines, kept in memory while the object lives; the
// process's own sink is put back after. `log->messages()` are the lines so far.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    MemoryLogSink* operator->() const { return sink_.get(); }
    MemoryLogSink& operator*() const { return *sink_; }

    // Whether this exact line was logged.
    bool contains(const std::string& message) const;

private:
    std::shared_ptr<MemoryLogSink> sink_ = std::make_shared<MemoryLogSink>();
};

} // namespace brindleaf::testing
