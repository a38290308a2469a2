#include "tests/support/CapturedLog.hpp"

#include "platform/Logger.hpp"

#include <algorithm>

namespace brindleaf::testing {

CapturedLog::CapturedLog(Lines lines) : debug_(lines == Lines::withDebug) {
    Logger::setSink(sink_);
    if (debug_) Logger::setDebugEnabled(true);
}

CapturedLog::~CapturedLog() {
    if (debug_) Logger::setDebugEnabled(false);
    Logger::setSink(nullptr);
}

bool CapturedLog::contains(const std::string& message) const {
    const auto messages = sink_->messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

} // namespace brindleaf::testing
