#include "providers/hermes/HermesDataSources.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>


using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

TEST(HermesGatewayState, ReadsFieldsAndCountsOnlyARunningGatewayWithALiveProcess) {
    TempDir home;
    auto sleeper = startSleeper();
    const std::string live = std::to_string(sleeper->pid());
    const std::string dead = std::to_string(deadPID());
    const auto path = (home / "gateway_state.json").string();

    writeFile(path, R"({"gateway_state":"running","pid":)" + live +
                        R"(,"active_agents":2,"updated_at":"2026-01-02T03:04:05.250Z"})");
    auto gateway = HermesStatusProvider::loadGatewayState(path);
    ASSERT_TRUE(gateway);
    EXPECT_EQ(gateway->state, "running");
    EXPECT_EQ(gateway->pid, sleeper->pid());
    EXPECT_EQ(gateway->activeAgents, 2);
    ASSERT_TRUE(gateway->updatedAt);
    EXPECT_DOUBLE_EQ(*gateway->updatedAt, 1767323045.25);
    EXPECT_EQ(hermesGatewayRunningCount(gateway), 2);

    // A pid written as text is still a pid.
    writeFile(path, R"({"gateway_state":"running","pid":")" + live + R"(","active_agents":"3"})");
    EXPECT_EQ(hermesGatewayRunningCount(HermesStatusProvider::loadGatewayState(path)), 3);

    const std::vector<std::string> notRunning = {
        R"({"gateway_state":"Running","pid":)" + live + R"(,"active_agents":2})",
        R"({"gateway_state":"running","pid":)" + live + R"(,"active_agents":0})",
        R"({"gateway_state":"stopped","pid":)" + live + R"(,"active_agents":2})",
        R"({"gateway_state":"running","pid":)" + dead + R"(,"active_agents":2})",
        R"({"gateway_state":"running","active_agents":2})",
        // Malformed pids never name a live process (true would read as 1, 2^32+1 as 1).
        R"({"gateway_state":"running","pid":true,"active_agents":2})",
        R"({"gateway_state":"running","pid":4294967297,"active_agents":2})",
        R"({"gateway_state":"running","pid":1.5,"active_agents":2})",
        R"({"gateway_state":"running","pid":-1,"active_agents":2})",
    };
    for (const auto& json : notRunning) {
        writeFile(path, json);
        EXPECT_EQ(hermesGatewayRunningCount(HermesStatusProvider::loadGatewayState(path)), 0) << json;
    }

    for (const char* malformed : {"[1,2]", "{not json", ""}) {
        writeFile(path, malformed);
        EXPECT_FALSE(HermesStatusProvider::loadGatewayState(path)) << malformed;
    }
    EXPECT_FALSE(HermesStatusProvider::loadGatewayState((home / "missing.json").string()));
}

TEST(HermesChildProcesses, KeepsLiveWellFormedEntriesInFileOrder) {
    TempDir home;
    auto first = startSleeper();
    auto second = startSleeper();
    const std::string a = std::to_string(first->pid());
    const std::string b = std::to_string(second->pid());
    const std::string dead = std::to_string(deadPID());
    const auto path = home.write("processes.json", std::string("[") +
        // Full entry.
        R"({"session_key":"k1","session_id":"s1","command":"npm test\nmore","pid":)" + a +
        R"(,"cwd":"/w","started_at":1767323045.5},)" +
        // Defaults: id from the key, generic command; implausible start times are dropped.
        R"({"session_key":"k2","pid":")" + b + R"(","started_at":"inf"},)" +
        R"({"session_key":"k3","pid":)" + a + R"(,"started_at":1e308},)" +
        R"({"session_key":"k4","pid":)" + a + R"(,"started_at":0},)" +
        R"({"session_key":"k5","pid":)" + a + R"(,"started_at":true},)" +
        // Skipped: dead, malformed pids, no key, not an object.
        R"({"session_key":"dead","pid":)" + dead + R"(},)" +
        R"({"session_key":"bool","pid":true},)" +
        R"({"session_key":"wide","pid":4294967297},)" +
        R"({"session_key":"fraction","pid":)" + a + R"(.5},)" +
        R"({"session_key":"","pid":)" + a + R"(},)" +
        R"({"pid":)" + a + R"(},)" +
        R"("text", 7])");

    const auto children = HermesStatusProvider::loadChildProcesses(path.string());
    ASSERT_EQ(children.size(), 5u);
    EXPECT_EQ(children[0], (HermesChildProcess{"s1", "k1", "npm test\nmore", first->pid(), "/w", 1767323045.5}));
    EXPECT_EQ(children[1], (HermesChildProcess{"k2", "k2", "Hermes child process", second->pid(), std::nullopt,
                                               std::nullopt}));
    EXPECT_EQ(children[2].id, "k3");
    EXPECT_FALSE(children[2].startedAt);
    EXPECT_FALSE(children[3].startedAt);
    EXPECT_FALSE(children[4].startedAt);

    writeFile(path, R"({"session_key":"k1"})");
    EXPECT_TRUE(HermesStatusProvider::loadChildProcesses(path.string()).empty());
}

TEST(HermesDataSources, EpochSecondsAcceptOnlyFinitePlausibleDates) {
    EXPECT_EQ(hermesEpochSecondsFromText("1767323045"), 1767323045.0);
    EXPECT_EQ(hermesEpochSecondsFromText("1767323045.25"), 1767323045.25);
    EXPECT_EQ(hermesEpochSecondsFromText("+12"), 12.0);
    for (const char* text : {"", "0", "-5", "inf", "nan", "1e308", "253402300800", "12abc", " 12", "++1", "--1"})
        EXPECT_FALSE(hermesEpochSecondsFromText(text)) << text;
}

TEST(HermesWorkers, SessionKeysComeOnlyFromTheSpaceSeparatedWordAfterTheFlag) {
    EXPECT_EQ(hermesWorkerSessionKey("python3 -m tui_gateway.slash_worker --session-key 20260101_abc --x"),
              "20260101_abc");
    EXPECT_EQ(hermesWorkerSessionKey("w  --session-key   k2"), "k2");
    EXPECT_FALSE(hermesWorkerSessionKey("w --session-key=k"));
    EXPECT_FALSE(hermesWorkerSessionKey("w --session-key"));
    EXPECT_FALSE(hermesWorkerSessionKey("w --session-key "));

    const auto fromLines = hermesLiveWorkersFromCommands({
        "  4242 python3 -m tui_gateway.slash_worker --session-key k1",
        "x python3 -m tui_gateway.slash_worker --session-key k2",
        "4243 python3 -m other --session-key k3",
        "4244 python3 -m tui_gateway.slash_worker",
    });
    ASSERT_EQ(fromLines.size(), 2u);
    EXPECT_EQ(fromLines[0], (HermesLiveWorker{"k1", 4242}));
    EXPECT_EQ(fromLines[1], (HermesLiveWorker{"k2", std::nullopt}));
}
