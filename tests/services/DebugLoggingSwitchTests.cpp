#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

// Per-refresh lines reach the journal only while debug logging is on (the
// Diagnostics pane's switch, stored as "debugLoggingEnabled.v1", or
// BRINDLEAF_DEBUG=1); every other line always, its text unchanged.
TEST(DebugLogging, PerRefreshLinesOnlyWhileTheSwitchIsOn) {
    auto log = std::make_shared<MemoryLogSink>();
    Logger::setSink(log);
    struct Restore {
        ~Restore() {
            Logger::setDebugEnabled(false);
            Logger::setSink(nullptr);
        }
    } restore;
    Logger::setDebugEnabled(false);
    const Logger logger("Refresh");
    logger.debug("refresh.started id=1");
    logger.info("state.changed from=complete to=inProgress");
    logger.error("refresh.timeout reason=timer");
    EXPECT_EQ(log->messages(), (std::vector<std::string>{"state.changed from=complete to=inProgress",
                                                         "refresh.timeout reason=timer"}));

    auto defaults = UserDefaults::inMemory("debug-switch");
    {
        ProviderSettingsStore settings(defaults);
        EXPECT_FALSE(settings.isDebugLoggingEnabled());
        settings.setDebugLoggingEnabled(true);
    }
    EXPECT_EQ(defaults->boolValue("debugLoggingEnabled.v1"), true);
    log->clear();
    logger.debug("refresh.started id=2");
    EXPECT_EQ(log->messages(), std::vector<std::string>{"refresh.started id=2"}) << "the switch did not turn it on";

    // The next start reads the switch.
    Logger::setDebugEnabled(false);
    ProviderSettingsStore restarted(defaults);
    EXPECT_TRUE(restarted.isDebugLoggingEnabled());
    EXPECT_TRUE(Logger::isDebugEnabled()) << "a stored switch did not turn it on at the start";
    restarted.setDebugLoggingEnabled(false);
    log->clear();
    logger.debug("refresh.started id=3");
    EXPECT_TRUE(log->messages().empty()) << "the switch did not turn it off";

    for (const auto& [value, on] : {std::pair<const char*, bool>{"1", true}, {"0", false}, {"", false}, {nullptr, false},
                                    {"yes", false}})
        EXPECT_EQ(Logger::debugFromEnvironment(value), on) << (value ? value : "(unset)");
}
