#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>

#include <ctime>

using namespace brindleaf;
using namespace brindleaf::testing::hermes;

namespace {

Date utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return static_cast<Date>(::timegm(&fields));
}

} // namespace

// Lord Howe Island moves its clocks by half an hour: on 2026-10-04 at 02:00
// (+10:30) to 02:30 (+11:00), and on 2026-04-05 at 02:00 (+11:00) back to 01:30.
TEST(HermesLogTimeZones, LinesNearHalfHourOffsetChangesKeepTheirExactTime) {
    ScopedTimeZone zone("Australia/Lord_Howe");
    struct Case {
        const char* local;
        Date expected;
    };
    const Case cases[] = {
        {"2026-10-04 01:59:30,250", utc(2026, 10, 3, 15, 29, 30) + 0.25},
        {"2026-10-04 02:45:10,500", utc(2026, 10, 3, 15, 45, 10) + 0.5},
        {"2026-10-04 03:05:00,000", utc(2026, 10, 3, 16, 5, 0)},
        {"2026-04-05 01:15:00,000", utc(2026, 4, 4, 14, 15, 0)},
        {"2026-04-05 02:15:00,000", utc(2026, 4, 4, 15, 45, 0)},
        {"2026-07-01 12:00:00,000", utc(2026, 7, 1, 1, 30, 0)},
    };
    std::string log;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string line =
            std::string(cases[i].local) + " INFO [20_" + std::to_string(i) + "] agent.conversation_loop: Turn ended:\n";
        // One line on its own, and the same line among others of its hour.
        auto alone = HermesStatusProvider::classifyLogLine(line);
        ASSERT_TRUE(alone) << cases[i].local;
        EXPECT_DOUBLE_EQ(alone->timestamp, cases[i].expected) << cases[i].local;
        log += line;
    }
    log += "2026-10-04 02:59:59,000 INFO [20_late] agent.conversation_loop: Turn ended:\n";
    for (const auto& signal : HermesStatusProvider::runtimeSignalsFromLogTail(log)) {
        if (signal.sessionID == "20_late") {
            EXPECT_DOUBLE_EQ(signal.timestamp, utc(2026, 10, 3, 15, 59, 59));
            continue;
        }
        const auto& c = cases[std::stoul(signal.sessionID.substr(3))];
        EXPECT_DOUBLE_EQ(signal.timestamp, c.expected) << c.local;
    }
}
