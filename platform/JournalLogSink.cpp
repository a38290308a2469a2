#include "platform/JournalLogSink.hpp"

#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <string>

namespace brindleaf {

namespace {

// The syslog priority of each level: LOG_INFO, LOG_NOTICE, LOG_ERR.
std::string_view priorityField(LogLevel level) {
    static_assert(LOG_INFO == 6 && LOG_NOTICE == 5 && LOG_ERR == 3);
    if (level == LogLevel::notice) return "PRIORITY=5";
    if (level == LogLevel::error) return "PRIORITY=3";
    return "PRIORITY=6";
}

} // namespace

void JournalLogSink::write(const LogRecord& record) {
    send(record.subsystem, record.category, record.level, record.message);
}

void JournalLogSink::send(std::string_view subsystem, std::string_view category, LogLevel level,
                          std::string_view message) {
    static constexpr std::string_view identifierField = "SYSLOG_IDENTIFIER=brindleaf";
    const std::string_view priority = priorityField(level);

    // The journal takes each field as one "NAME=value" buffer. They are
    // assembled in a per-thread buffer that keeps its capacity between lines,
    // so a line costs no allocation; one grown by an unusually long line is let go.
    constexpr size_t largestKept = 16 * 1024;
    thread_local std::string text;
    if (text.capacity() > largestKept) std::string().swap(text);
    text.clear();
    // Fields stop at a NUL byte and lose trailing white space, as they did
    // when formatted through sd_journal_send.
    const auto cString = [](std::string_view value) {
        value = value.substr(0, value.find('\0'));
        const size_t last = value.find_last_not_of(" \t\n\r");
        return last == std::string_view::npos ? std::string_view() : value.substr(0, last + 1);
    };
    text.append("MESSAGE=").append(cString(message));
    const size_t messageEnd = text.size();
    text.append("BRINDLEAF_SUBSYSTEM=").append(cString(subsystem));
    const size_t subsystemEnd = text.size();
    text.append("BRINDLEAF_CATEGORY=").append(cString(category));

    iovec fields[5];
    const auto field = [](const char* data, size_t size) { return iovec{const_cast<char*>(data), size}; };
    fields[0] = field(text.data(), messageEnd);
    fields[1] = field(priority.data(), priority.size());
    fields[2] = field(identifierField.data(), identifierField.size());
    fields[3] = field(text.data() + messageEnd, subsystemEnd - messageEnd);
    fields[4] = field(text.data() + subsystemEnd, text.size() - subsystemEnd);
    // Failures (no journal on this machine) are ignored: logging never disturbs the caller.
    sd_journal_sendv(fields, 5);
}

} // namespace brindleaf
