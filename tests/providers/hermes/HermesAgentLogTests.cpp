#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

using Kind = HermesRuntimeSignal::Kind;

namespace {

const HermesRuntimeSignal* signalFor(const std::vector<HermesRuntimeSignal>& signals, const std::string& id) {
    auto it = std::find_if(signals.begin(), signals.end(), [&](const auto& s) { return s.sessionID == id; });
    return it == signals.end() ? nullptr : &*it;
}

constexpr Date base = 1767323045.0; // 2026-01-02T03:04:05Z

} // namespace

TEST(HermesLogClassification, EachRuleGivesItsKindEvidenceAndAttention) {
    ScopedTimeZone zone("UTC0");
    struct Case {
        std::string message;
        Kind kind;
        std::string evidence;
        bool needsUser;
    };
    const std::vector<Case> cases = {
        {"agent.conversation_loop: Turn ended: reason=stop", Kind::turnEnded, "Hermes turn ended", false},
        {"agent.chat_completion_helpers: Waiting for backend response (3s)", Kind::inFlight,
         "Hermes waiting for backend response", false},
        {"agent.turn_context: conversation turn: platform=subagent depth=1", Kind::subagent, "Hermes subagent turn",
         false},
        {"agent.turn_context: conversation turn: platform=cli", Kind::recentActivity, "Hermes active turn", false},
        {"tools.async_delegation: Dispatched async delegation id=4", Kind::subagent, "Hermes subagent delegation",
         false},
        {R"(agent.tool_executor: Tool terminal returned error {"approval_pending": true})", Kind::userAttention,
         "Hermes awaiting user authorization", true},
        {R"(agent.tool_executor: Tool terminal returned error {"status":"pending_approval"})", Kind::userAttention,
         "Hermes awaiting user authorization", true},
        {"agent.tool_executor: Tool patch returned error: user NOT consented", Kind::userAttention,
         "Hermes awaiting user authorization", true},
        {"agent.tool_executor: Tool patch returned error: timed out without user response", Kind::userAttention,
         "Hermes awaiting user authorization", true},
        // Fails the attention rule (no marker) but is still tool activity.
        {"agent.tool_executor: tool terminal started; Tool x returned error", Kind::recentActivity,
         "Hermes runtime tool activity", false},
        {"agent.conversation_compression: context compression started", Kind::inFlight, "Hermes context compression",
         false},
        // The first rule in order wins.
        {"agent.conversation_loop: Turn ended: agent.tool_executor: tool x", Kind::turnEnded, "Hermes turn ended",
         false},
    };
    for (const auto& c : cases) {
        auto signal = HermesStatusProvider::classifyLogLine(logLine(base + 0.125, "20260102_030405_ab", c.message));
        ASSERT_TRUE(signal) << c.message;
        EXPECT_EQ(signal->sessionID, "20260102_030405_ab");
        EXPECT_EQ(signal->kind, c.kind) << c.message;
        EXPECT_EQ(signal->evidence, c.evidence) << c.message;
        EXPECT_EQ(signal->needsUserAttention, c.needsUser) << c.message;
        EXPECT_DOUBLE_EQ(signal->timestamp, base + 0.125);
    }

    const std::vector<std::string> silent = {
        logLine(base, "abc", "agent.conversation_loop: Turn ended:"),             // id not starting with "20"
        logLine(base, "20x", "agent.tool_executor: Tool x returned"),             // no rule
        logLine(base, "20x", "Agent.conversation_loop: turn ended:"),             // case-sensitive
        "2026-01-02 03:04:05 INFO [20x] agent.conversation_loop: Turn ended:",   // no milliseconds
        "2026-02-30 03:04:05,000 INFO [20x] agent.conversation_loop: Turn ended:", // no such day
        "2026-01-02 03:04:05,000 INFO 20x agent.conversation_loop: Turn ended:", // no brackets
    };
    for (const auto& line : silent) EXPECT_FALSE(HermesStatusProvider::classifyLogLine(line)) << line;
}

TEST(HermesLogClassification, LocalTimesFollowDaylightSavingAcrossALog) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2026-03-29 01:59:59 CET is 00:59:59Z; 03:00:00 CEST (an hour later in local writing) is 01:00:00Z;
    // 2026-07-01 12:30:00 CEST is 10:30:00Z.
    const auto signals = HermesStatusProvider::runtimeSignalsFromLogTail(
        "2026-03-29 01:59:59,000 INFO [20_winter] agent.conversation_loop: Turn ended:\n"
        "2026-03-29 03:00:00,000 INFO [20_summer] agent.conversation_loop: Turn ended:\n"
        "2026-07-01 12:30:00,000 INFO [20_july] agent.conversation_loop: Turn ended:\n"
        "2026-07-01 12:45:10,000 INFO [20_july2] agent.conversation_loop: Turn ended:\n");
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_DOUBLE_EQ(signalFor(signals, "20_winter")->timestamp, 1774745999.0);
    EXPECT_DOUBLE_EQ(signalFor(signals, "20_summer")->timestamp, 1774746000.0);
    EXPECT_DOUBLE_EQ(signalFor(signals, "20_july")->timestamp, 1782901800.0);
    EXPECT_DOUBLE_EQ(signalFor(signals, "20_july2")->timestamp, 1782901800.0 + 15 * 60 + 10);
}

TEST(HermesAgentLog, KeepsTheLatestSignalPerSessionFromTheLogTail) {
    ScopedTimeZone zone("UTC0");
    std::string log;
    log += logLine(base + 10, "20_a", "agent.turn_context: conversation turn: platform=cli");
    log += logLine(base + 5, "20_a", "agent.conversation_loop: Turn ended:"); // earlier: ignored
    log += logLine(base + 20, "20_b", "agent.turn_context: conversation turn: platform=cli");
    log += "\n\nnot a log line\n";
    log += logLine(base + 20, "20_b", "agent.conversation_compression: context compression"); // same time: later wins
    log += logLine(base + 30, "20_c", "agent.conversation_loop: Turn ended:");
    log += "2026-01-02 03:04:40,000 INFO [20_\xff\xfe] agent.conversation_loop: Turn ended:\n";

    const auto signals = HermesStatusProvider::runtimeSignalsFromLogTail(log);
    ASSERT_EQ(signals.size(), 4u);
    ASSERT_TRUE(signalFor(signals, "20_a"));
    EXPECT_EQ(signalFor(signals, "20_a")->kind, Kind::recentActivity);
    ASSERT_TRUE(signalFor(signals, "20_b"));
    EXPECT_EQ(signalFor(signals, "20_b")->kind, Kind::inFlight);
    ASSERT_TRUE(signalFor(signals, "20_c"));
    EXPECT_TRUE(signalFor(signals, "20_\xEF\xBF\xBD\xEF\xBF\xBD")); // invalid bytes repaired
}

TEST(HermesAgentLog, ClassifiesOnlyTheLastThousandLinesOfTheLastHalfMebibyte) {
    ScopedTimeZone zone("UTC0");
    TempDir home;
    const auto path = home / "logs/agent.log";

    // A signal followed by 1,000 later lines is out of reach.
    std::string log = logLine(base, "20_first", "agent.conversation_loop: Turn ended:");
    for (int i = 0; i < 1000; ++i) log += logLine(base + 1, "20_filler", "agent.tool_executor: tool x");
    writeFile(path, log);
    auto signals = HermesStatusProvider::loadRuntimeSignals(path.string());
    EXPECT_FALSE(signalFor(signals, "20_first"));
    EXPECT_TRUE(signalFor(signals, "20_filler"));

    // A signal followed by more than 512 KiB (in few lines) is not even read.
    log = logLine(base, "20_first", "agent.conversation_loop: Turn ended:");
    log += std::string(HermesStatusProvider::logTailBytes, 'x') + "\n";
    log += logLine(base + 1, "20_last", "agent.conversation_loop: Turn ended:");
    writeFile(path, log);
    signals = HermesStatusProvider::loadRuntimeSignals(path.string());
    EXPECT_FALSE(signalFor(signals, "20_first"));
    EXPECT_TRUE(signalFor(signals, "20_last"));

    // Just under the limit, the first line is read.
    log = logLine(base, "20_first", "agent.conversation_loop: Turn ended:");
    log += std::string(HermesStatusProvider::logTailBytes - log.size() - 1, 'x') + "\n";
    writeFile(path, log);
    EXPECT_TRUE(signalFor(HermesStatusProvider::loadRuntimeSignals(path.string()), "20_first"));
}

TEST(HermesAgentLog, AnUnchangedLogIsNotReadAgain) {
    ScopedTimeZone zone("UTC0");
    TempDir home;
    HermesProviderConfig config;
    config.hermesHome = home.path().string();
    HermesStatusProvider provider(config, [] { return std::vector<ProcessResourceSample>{}; });
    const auto path = home / "logs/agent.log";
    EXPECT_TRUE(provider.runtimeSignals(path.string()).empty());

    writeFile(path, logLine(base, "20_a", "agent.conversation_loop: Turn ended:"));
    setFileTime(path, base);
    ASSERT_EQ(provider.runtimeSignals(path.string()).size(), 1u);

    // Same size and time: the cached result stands.
    writeFile(path, logLine(base, "20_b", "agent.conversation_loop: Turn ended:"));
    setFileTime(path, base);
    auto signals = provider.runtimeSignals(path.string());
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals[0].sessionID, "20_a");

    setFileTime(path, base + 1);
    signals = provider.runtimeSignals(path.string());
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals[0].sessionID, "20_b");
}
