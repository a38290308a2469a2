#pragma once

#include "platform/LogSink.hpp"

namespace brindleaf {

// Writes each line to the systemd journal with the subsystem and category as fields.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
};

} // namespace brindleaf
