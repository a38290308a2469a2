#include "platform/JournalLogSink.hpp"
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace brindleaf;

TEST(LoggerSinks, LinesFollowWhicheverSinkIsInstalled) {
    const Logger logger("Settings");
    auto first = std::make_shared<MemoryLogSink>();
    auto second = std::make_shared<MemoryLogSink>();

    Logger::setSink(first);
    logger.info("settings.loaded count=3");
    Logger::setSink(nullptr); // back to the journal
    logger.info("settings.saved key=pollInterval");
    EXPECT_EQ(first->messages(), std::vector<std::string>{"settings.loaded count=3"});

    Logger::setSink(second);
    logger.notice("settings.reset reason=corrupt");
    Logger::setSink(std::make_shared<JournalLogSink>()); // a journal sink of one's own
    logger.error("settings.unreadable path=/nowhere");
    Logger::setSink(second);
    logger.error("settings.unwritable path=/nowhere");
    Logger::setSink(nullptr);

    EXPECT_EQ(first->messages().size(), 1u);
    const auto records = second->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "settings.reset reason=corrupt");
    EXPECT_EQ(records[0].level, LogLevel::notice);
    EXPECT_EQ(records[0].category, "Settings");
    EXPECT_EQ(records[0].subsystem, "com.quorvale.Brindleaf");
    EXPECT_EQ(records[1].message, "settings.unwritable path=/nowhere");
    EXPECT_EQ(records[1].level, LogLevel::error);
}

// Whatever the line holds, and from however many threads, writing it to the
// journal (or finding no journal) never disturbs the caller.
TEST(LoggerSinks, JournalTakesAnyLineFromAnyThread) {
    Logger::setSink(nullptr);
    const std::string huge(1 << 17, 'x'); // larger than one datagram
    const std::vector<std::string> lines = {
        "", "plain line", "two\nlines", "format %s %n %d text", std::string("embedded\0nul", 12), huge, "short again"};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&lines, t] {
            const Logger logger(t % 2 ? "Status" : std::string(300, 'c'));
            for (int round = 0; round < 3; ++round) {
                for (const auto& line : lines) {
                    logger.write(static_cast<LogLevel>(round % 3), line);
                    JournalLogSink().write(LogRecord{"sub", "cat", LogLevel::info, line});
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    SUCCEED();
}
