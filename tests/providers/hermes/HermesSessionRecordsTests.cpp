#include "providers/hermes/HermesStatusProvider.hpp"

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
    HermesSessionCandidate parent;
    parent.id = "20_parent";
    parent.lastTerminalToolCalls = R"([{"function":{"name":"terminal","arguments":"{\"command\":\"  npm run build\\n\"}"}}])";
    HermesSessionCandidate child;
    child.id = "20_a";
    child.parentID = "20_parent";
    HermesStatusProvider::CandidatesByID byID{{"20_parent", &parent}, {"20_a", &child}};
    HermesStatusProvider::WorkersByKey workers{{"20_a", {{"20_a", 10}}}, {"20_parent", {{"20_parent", 40}}}};

    // Its own worker's tree, plus the parent's terminal command; not the parent's worker.
    EXPECT_EQ(provider.sessionResourceUsage(child, nullptr, workers, byID, samples),
              SessionResourceUsage(10, 3.0, 400, 4));

    // A command shorter than 8 characters matches nothing: all Hermes processes but workers.
    HermesSessionCandidate shortCommand;
    shortCommand.id = "20_s";
    shortCommand.lastTerminalToolCalls = R"([{"function":{"name":"terminal","arguments":"{\"command\":\"ls\"}"}}])";
    EXPECT_EQ(provider.sessionResourceUsage(shortCommand, nullptr, workers, byID, samples),
              SessionResourceUsage(30, 2.0, 200, 2));

    // A requested pid that is not sampled does not lead to its children, but is still the usage's pid.
    const HermesChildProcess gone{"20_s", "20_s", "x", 5, std::nullopt, std::nullopt};
    const std::vector<ProcessResourceSample> withOrphan = {sample(6, 5, "child"), sample(7, 1, "other")};
    HermesSessionCandidate plain;
    plain.id = "20_s";
    const HermesStatusProvider::WorkersByKey plainWorkers{{"20_s", {{"20_s", 7}}}};
    EXPECT_EQ(provider.sessionResourceUsage(plain, &gone, plainWorkers, {}, withOrphan),
              SessionResourceUsage(5, 1.0, 100, 1));
    EXPECT_FALSE(provider.sessionResourceUsage(plain, &gone, {}, {}, withOrphan)); // and no Hermes process either
    EXPECT_FALSE(provider.sessionResourceUsage(plain, nullptr, {}, {}, {}));
}
