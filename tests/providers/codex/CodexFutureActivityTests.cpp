// A thread whose activity is dated in the future (the wall clock was set back
// since it was written) is fresh only within the allowed skew: each window of
// the decision at its boundary, 60 seconds ahead and 61.
#include "core/ActivityAge.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using Kind = CodexStatusProvider::CandidateDecision::Kind;

namespace {

constexpr Date now = 1'700'000'000.0;

} // namespace

TEST(CodexFutureActivity, EveryWindowHoldsActivityAheadOnlyWithinTheSkew) {
    CodexHomeFixture fixture;
    CodexStatusProvider provider{fixture.config(), noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>()};
    const auto decide = [&](const CodexCandidate& c) { return provider.decide(c, now, {}, {}); };

    for (const double ahead : {futureActivitySkew, futureActivitySkew + 1}) {
        const bool fresh = ahead <= futureActivitySkew;
        const Date at = now + ahead;
        struct Case {
            CodexCandidate candidate;
            Kind whenFresh;
            Kind otherwise;
            const char* evidence;
        };
        CodexCandidate pending = candidate("pending", {"recent_thread"}, at);
        pending.rolloutPath = fixture.writeRollout("pending.jsonl", {rollout::functionCall("x")}, now - 5);
        const Case cases[] = {
            {candidate("recent", {"recent_thread"}, at), Kind::active, Kind::inactive, "recent rollout activity"},
            {candidate("runtime", {"runtime_log"}, at), Kind::active, Kind::inactive, "recent Codex runtime log"},
            {candidate("edge", {"open_spawn_edge"}, at), Kind::active, Kind::stale,
             "open spawn edge with recent activity"},
            {pending, Kind::active, Kind::stale, "rollout has pending tool call"},
        };
        for (const Case& c : cases) {
            const auto decision = decide(c.candidate);
            EXPECT_EQ(decision.kind, fresh ? c.whenFresh : c.otherwise) << c.candidate.id << " " << ahead;
            if (fresh && decision.session) {
                EXPECT_EQ(decision.session->evidence, c.evidence) << c.candidate.id;
            }
        }
    }
}
