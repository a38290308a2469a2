#include "core/AgentSession.hpp"
#include "core/RunEvidence.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace brindleaf;

// Providers derive evidence for the same few sentences on every refresh, and
// now and then for new ones. However many sentences come and go, each session
// is classified by its own sentence, every time and on every thread.
TEST(RunEvidenceRepeat, EachSessionIsClassifiedByItsOwnSentenceAcrossRefreshesAndThreads) {
    struct Case {
        std::string sentence;
        RunEvidenceStrength strength;
        std::string source;
    };
    const std::string longWeak = std::string(400, 'a') + " Runtime Log tail " + std::string(100, 'b');
    const std::vector<Case> cases = {
        {"rollout has pending tool call", RunEvidenceStrength::strongActive, "rollout_pending_tool"},
        {"recent rollout activity", RunEvidenceStrength::weakRecent, "recent_activity"},
        {"RECENT rollout activity", RunEvidenceStrength::weakRecent, "recent_activity"},
        {"official Codex app-server status: active", RunEvidenceStrength::strongActive, "official"},
        {"Codex runtime log shows recent activity", RunEvidenceStrength::weakRecent, "runtime_log"},
        {"open spawn edge to a running child", RunEvidenceStrength::weakRecent, "open_spawn_edge"},
        {"Claude turn awaiting assistant response", RunEvidenceStrength::strongActive, "provider_snapshot"},
        {"", RunEvidenceStrength::strongActive, "provider_snapshot"},
        {"waiting for approval", RunEvidenceStrength::strongActive, "provider_snapshot"},
        {"Pending Tool call in an OFFICIAL status", RunEvidenceStrength::strongActive, "official"},
        {"recent", RunEvidenceStrength::weakRecent, "recent_activity"},
        {"recen", RunEvidenceStrength::strongActive, "provider_snapshot"},
        {longWeak, RunEvidenceStrength::weakRecent, "runtime_log"},
    };

    const auto check = [&](int rounds) {
        for (int round = 0; round < rounds; ++round) {
            // A different mix and order each round, so sentences are forgotten and relearnt.
            std::vector<AgentSession> sessions;
            std::vector<const Case*> expected;
            for (size_t i = 0; i < cases.size() * 2; ++i) {
                const Case& c = cases[(i * (round + 1) + round) % cases.size()];
                std::string id = std::to_string(i);
                id.insert(0, "session-");
                sessions.push_back(AgentSession({.id = id, .provider = "Codex",
                                                 .lastActivityAt = 100.0 + static_cast<double>(i),
                                                 .evidence = c.sentence}));
                expected.push_back(&c);
            }
            const auto items =
                RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt, sessions, 500, {});
            ASSERT_EQ(items.size(), sessions.size());
            for (size_t i = 0; i < items.size(); ++i) {
                SCOPED_TRACE(expected[i]->sentence.substr(0, 60));
                EXPECT_EQ(items[i].strength, expected[i]->strength);
                EXPECT_EQ(items[i].source, expected[i]->source);
                EXPECT_EQ(items[i].reason, expected[i]->sentence);
                if (expected[i]->strength == RunEvidenceStrength::weakRecent)
                    EXPECT_EQ(items[i].expiresAt, items[i].observedAt + RunEvidence::weakRecentLeaseInterval);
                else
                    EXPECT_FALSE(items[i].expiresAt);
            }
        }
    };
    check(12);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) threads.emplace_back([&] { check(6); });
    for (auto& thread : threads) thread.join();
}
