#pragma once

#include "platform/LogSink.hpp"

#include <string_view>

namespace brindleaf {

// Writes each line to the systemd journal with the subsystem and category as fields.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;

    // Sends one line straight from its parts, without building a record first.
    static void send(std::string_view subsystem, std::string_view category, LogLevel level, std::string_view message);
};

} // namespace brindleaf
