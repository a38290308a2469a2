#include "tests/support/CapturedLog.hpp"

#include "platform/Logger.hpp"

#include <algorithm>

namespace brindleaf::testing {

CapturedLog::CapturedLog() { Logger::setSink(sink_); }

CapturedLog::~CapturedLog() { Logger::setSink(nullptr); }

bool CapturedLog::contains(const std::string& message) const {
    const auto messages = sink_->messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

} // namespace brindleaf::testing
