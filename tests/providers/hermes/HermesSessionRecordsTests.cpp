#include "providers/hermes/HermesScanInputs.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"

#include <tuple>

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

HermesStatusProvider makeProvider(const std::string& home = "/home/u/.hermes") {
    HermesProviderConfig config;
    config.hermesHome = home;
    return HermesStatusProvider(config, [] { return std::vector<ProcessResourceSample>{}; });
}

AgentSession session(const std::string& evidence, bool needsUser, std::optional<Date> lastActivity,
                     std::optional<SessionResourceUsage> usage = std::nullopt) {
    AgentSessionFields fields;
    fields.id = "20_a";
    fields.provider = "Hermes";
    fields.evidence = evidence;
    fields.needsUserAttention = needsUser;
    fields.lastActivityAt = lastActivity;
    fields.resourceUsage = usage;
    return AgentSession(std::move(fields));
}

// One terminal tool call running `command` (JSON string contents).
std::string terminalCall(const std::string& command) {
    return R"([{"function":{"name":"terminal","arguments":"{\"command\":\")" + command + R"(\"}"}}])";
}

ProcessResourceSample sample(int64_t pid, int64_t parent, std::string command, std::optional<double> cpu = 1.0) {
    return ProcessResourceSample{pid, parent, cpu, 100, std::move(command), std::nullopt};
}

} // namespace

TEST(HermesSessionRecords, MergingKeepsTheFirstArrivalAndTakesAttentionFromEither) {
    const auto gateway = session("Hermes gateway active_agents=2", false, 100);
    auto merged = HermesStatusProvider::mergeSessions(gateway, session("Hermes awaiting user authorization", true, 90));
    EXPECT_EQ(merged.evidence, "Hermes awaiting user authorization");
    EXPECT_TRUE(merged.needsUserAttention);
    EXPECT_EQ(merged.lastActivityAt, 100.0);

    merged = HermesStatusProvider::mergeSessions(gateway, session("Hermes active turn", false, 120));
    EXPECT_EQ(merged.evidence, "Hermes gateway active_agents=2");
    EXPECT_FALSE(merged.needsUserAttention);
    EXPECT_EQ(merged.lastActivityAt, 120.0);

    // Resource usage: the higher score wins, ties keep the existing one.
    const SessionResourceUsage threeBare(1, std::nullopt, std::nullopt, 3);
    const SessionResourceUsage oneFull(2, 5.0, 100, 1);
    const SessionResourceUsage twoFull(3, 5.0, 100, 2);
    EXPECT_EQ(HermesStatusProvider::mergeSessions(session("a", false, 1, threeBare), session("b", false, 1, oneFull))
                  .resourceUsage,
              threeBare);
    EXPECT_EQ(HermesStatusProvider::mergeSessions(session("a", false, 1, threeBare), session("b", false, 1, twoFull))
                  .resourceUsage,
              twoFull);
    EXPECT_EQ(HermesStatusProvider::mergeSessions(session("a", false, std::nullopt), session("b", false, 1, oneFull))
                  .resourceUsage,
              oneFull);

    // Upsert keeps the position of the first arrival.
    std::vector<AgentSession> sessions;
    std::unordered_map<std::string, std::size_t> index;
    auto other = session("o", false, 1);
    other.id = "20_other";
    HermesStatusProvider::upsertSession(gateway, index, sessions);
    HermesStatusProvider::upsertSession(other, index, sessions);
    HermesStatusProvider::upsertSession(session("Hermes awaiting user authorization", true, 1), index, sessions);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].id, "20_a");
    EXPECT_TRUE(sessions[0].needsUserAttention);
}

TEST(HermesSessionRecords, UsageFollowsWorkersTerminalCommandsAndFallsBackToHermesProcesses) {
    auto provider = makeProvider();
    const std::vector<ProcessResourceSample> samples = {
        sample(10, 1, "python3 -m tui_gateway.slash_worker --session-key 20_a"),
        sample(11, 10, "bash"),
        sample(20, 1, "sh -c npm run build --watch"),
        sample(21, 20, "node", std::nullopt),
        sample(30, 1, "/home/u/.hermes/venv/bin/python agent.py"),
        sample(31, 1, "HERMES-helper"),
        sample(40, 1, "python3 -m tui_gateway.slash_worker --session-key 20_parent"),
    };
    std::vector<HermesSessionCandidate> rows(4);
    rows[0].id = "20_parent";
    rows[0].lastTerminalToolCalls = terminalCall("  npm run build\\\\n");
    rows[1].id = "20_a";
    rows[1].parentID = "20_parent";
    rows[2].id = "20_s";
    rows[2].lastTerminalToolCalls = terminalCall("ls");
    rows[3].id = "20_plain";
    const HermesStatusProvider::CandidateSet set(std::move(rows));
    const auto& [parent, child, shortCommand, plain] =
        std::tie(set.candidates[0], set.candidates[1], set.candidates[2], set.candidates[3]);
    (void)parent;
    HermesStatusProvider::WorkersByKey workers{{"20_a", {{"20_a", 10}}}, {"20_parent", {{"20_parent", 40}}}};
    HermesProcessTable table(samples, "/home/u/.hermes");

    // Its own worker's tree, plus the parent's terminal command; not the parent's worker.
    EXPECT_EQ(provider.sessionResourceUsage(set, child, nullptr, workers, table),
              SessionResourceUsage(10, 3.0, 400, 4));

    // A command shorter than 8 characters matches nothing: all Hermes processes but workers.
    EXPECT_EQ(provider.sessionResourceUsage(set, shortCommand, nullptr, workers, table),
              SessionResourceUsage(30, 2.0, 200, 2));

    // A requested pid that is not sampled does not lead to its children, but is still the usage's pid.
    const HermesChildProcess gone{"20_plain", "20_plain", "x", 5, std::nullopt, std::nullopt};
    const std::vector<ProcessResourceSample> withOrphan = {sample(6, 5, "child"), sample(7, 1, "other")};
    HermesProcessTable orphanTable(withOrphan, "/home/u/.hermes");
    const HermesStatusProvider::WorkersByKey plainWorkers{{"20_plain", {{"20_plain", 7}}}};
    EXPECT_EQ(provider.sessionResourceUsage(set, plain, &gone, plainWorkers, orphanTable),
              SessionResourceUsage(5, 1.0, 100, 1));
    EXPECT_FALSE(provider.sessionResourceUsage(set, plain, &gone, {}, orphanTable)); // and no Hermes process either
    const std::vector<ProcessResourceSample> none;
    HermesProcessTable emptyTable(none, "/home/u/.hermes");
    EXPECT_FALSE(provider.sessionResourceUsage(set, plain, nullptr, {}, emptyTable));
}

TEST(HermesSessionRecords, TerminalCommandsAreTrimmedOfUnicodeWhiteSpaceAndCountedInCharacters) {
    auto provider = makeProvider();
    const std::vector<ProcessResourceSample> samples = {
        sample(
            50, 1,
            "run \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9 and \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9 now"),
        sample(60, 1, "sh -c make all"),
        sample(70, 1, "hermes agent", 2.0),
    };
    HermesProcessTable table(samples, "/home/u/.hermes");
    struct Case {
        const char* command; // as JSON string contents
        int64_t pid;         // the usage's pid: the matched process, or 70 (all Hermes processes)
    };
    const Case cases[] = {
        {"make all", 60},                                         // 8 characters
        {"ake all", 70},                                          // 7
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", 50}, // 8 characters in 16 bytes
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", 70},       // 7 characters in 14 bytes
        {"\u00a0\u2028make all\u3000\\\\n", 60},                  // Unicode white space and line breaks around it
        {"\u00a0 ake all\u2029", 70},                             // trimmed to 7 characters
    };
    for (const auto& c : cases) {
        std::vector<HermesSessionCandidate> rows(1);
        rows[0].id = "20_t";
        rows[0].lastTerminalToolCalls = terminalCall(c.command);
        const HermesStatusProvider::CandidateSet set(std::move(rows));
        const auto usage = provider.sessionResourceUsage(set, set.candidates[0], nullptr, {}, table);
        ASSERT_TRUE(usage) << c.command;
        EXPECT_EQ(usage->pid, c.pid) << c.command;
    }
}
