#pragma once

#include "platform/LogSink.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace brindleaf {

// The event log. Messages are dotted event names followed by key=value pairs
// ("provider.started name=Codex"). Lines go to the system journal unless a
// test installs another sink; nothing is ever written to stdout or stderr.
class Logger {
public:
    static constexpr std::string_view subsystem = "com.quorvale.Brindleaf";

    explicit Logger(std::string category);

    void info(std::string_view message) const { write(LogLevel::info, message); }
    // A line of every refresh: written (at info level) only while debug
    // logging is on, so the journal is not filled with them by default.
    void debug(std::string_view message) const {
        if (isDebugEnabled()) write(LogLevel::info, message);
    }
    void notice(std::string_view message) const { write(LogLevel::notice, message); }
    void error(std::string_view message) const { write(LogLevel::error, message); }
    void write(LogLevel level, std::string_view message) const;

    const std::string& category() const { return category_; }

    // Replaces the process-wide sink; nullptr restores the journal.
    static void setSink(std::shared_ptr<LogSink> sink);
    static std::shared_ptr<LogSink> sink();

    // Debug logging: on while BRINDLEAF_DEBUG=1 is in the environment (read
    // once) or the switch (the Diagnostics pane's setting) is on.
    static bool isDebugEnabled();
    static void setDebugEnabled(bool enabled);
    static bool debugFromEnvironment(const char* value); // whether BRINDLEAF_DEBUG's value turns it on

private:
    std::string category_;
};

} // namespace brindleaf
