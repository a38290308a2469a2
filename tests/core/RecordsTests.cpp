#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(ProviderSnapshotRecord, EmptyScanIsCompleteWithOneScanCompletion) {
    auto snapshot = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, 100, {});
    EXPECT_EQ(snapshot.state, AgentRunState::complete);
    EXPECT_FALSE(snapshot.statusEvidence);
    ASSERT_EQ(snapshot.runEvidence.size(), 1u);
    EXPECT_EQ(snapshot.runEvidence[0].strength, RunEvidenceStrength::strongComplete);
    EXPECT_EQ(snapshot.runEvidence[0].reason, "provider scan found no active sessions");
}
