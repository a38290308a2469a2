#pragma once

#include <string>

namespace brindleaf {

// "default" is the level between info and error.
enum class LogLevel { info, notice, error };

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::info;
    std::string message;
};

// Where log lines go. Implementations must be safe to call from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

} // namespace brindleaf
