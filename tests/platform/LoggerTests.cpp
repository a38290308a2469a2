#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(Logger, WritesToTheInstalledSinkWithSubsystemAndCategory) {
    auto sink = std::make_shared<MemoryLogSink>();
    Logger::setSink(sink);
    Logger("Status").error("provider.timeout provider=Codex elapsedMs=5000");
    Logger::setSink(nullptr);
    auto records = sink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].subsystem, "com.quorvale.Brindleaf");
    EXPECT_EQ(records[0].category, "Status");
    EXPECT_EQ(records[0].level, LogLevel::error);
    EXPECT_EQ(records[0].message, "provider.timeout provider=Codex elapsedMs=5000");
}
