#include "platform/JournalLogSink.hpp"

#include <syslog.h>
#include <systemd/sd-journal.h>

namespace brindleaf {

void JournalLogSink::write(const LogRecord& record) {
    int priority = LOG_INFO;
    if (record.level == LogLevel::notice) priority = LOG_NOTICE;
    if (record.level == LogLevel::error) priority = LOG_ERR;
    // Failures (no journal on this machine) are ignored: logging never disturbs the caller.
    sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=brindleaf",
                    "BRINDLEAF_SUBSYSTEM=%s", record.subsystem.c_str(), "BRINDLEAF_CATEGORY=%s",
                    record.category.c_str(), nullptr);
}

} // namespace brindleaf
