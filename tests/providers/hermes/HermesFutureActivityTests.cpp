// A session whose activity is dated in the future (the wall clock was set back
// since it was written) is fresh only within the allowed skew, and a pause of
// the official probe set before the clock went back is over.
#include "core/ActivityAge.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

namespace {

constexpr Date now = 1767323045.0;

bool shows(const ProviderSnapshot& snapshot, const std::string& id) {
    return std::any_of(snapshot.activeSessions.begin(), snapshot.activeSessions.end(),
                       [&](const AgentSession& s) { return s.id == id; });
}

class FailingProbe final : public HermesOfficialStatusProbe {
public:
    int calls = 0;
    std::vector<HermesOfficialSession> sessions(Date, const std::string&) override {
        ++calls;
        throw std::runtime_error("no status");
    }
};

} // namespace

TEST(HermesFutureActivity, EveryWindowHoldsActivityAheadOnlyWithinTheSkew) {
    ScopedTimeZone zone("UTC0");
    for (const double ahead : {futureActivitySkew, futureActivitySkew + 1}) {
        const bool fresh = ahead <= futureActivitySkew;
        const Date at = now + ahead;
        TempDir dir;
        StateDatabase db((dir / "state.db").string());
        db.add(SessionRow{.id = "20_user", .startedAt = now - 60});
        db.add(MessageRow{.sessionID = "20_user", .role = "user", .timestamp = at});
        db.add(SessionRow{.id = "20_tool", .startedAt = now - 60});
        db.add(MessageRow{.sessionID = "20_tool", .role = "tool", .timestamp = at});
        db.add(SessionRow{.id = "20_calls", .startedAt = now - 60});
        db.add(MessageRow{.sessionID = "20_calls", .role = "assistant", .timestamp = at, .finishReason = "tool_calls"});
        db.add(SessionRow{.id = "20_sub", .source = "subagent", .startedAt = at});
        db.add(SessionRow{.id = "20_attn", .startedAt = now - 60});
        dir.write(
            "logs/agent.log",
            logLine(at, "20_attn", R"(agent.tool_executor: Tool terminal returned error {"approval_pending": true})"));

        HermesProviderConfig config;
        config.hermesHome = dir.path().string();
        HermesStatusProvider provider(config, [] { return std::vector<ProcessResourceSample>{}; });
        const auto snapshot = provider.snapshot(now);
        for (const char* id : {"20_user", "20_tool", "20_calls", "20_sub", "20_attn"})
            EXPECT_EQ(shows(snapshot, id), fresh) << id << " " << ahead;
    }
}

TEST(HermesFutureActivity, AProbePauseSetBeforeTheClockWentBackIsOver) {
    TempDir home;
    HermesProviderConfig config;
    config.hermesHome = home.path().string();
    auto failing = std::make_shared<FailingProbe>();
    HermesStatusProvider provider(
        config, [] { return std::vector<ProcessResourceSample>{}; }, {}, failing, 30);
    provider.snapshot(now);
    EXPECT_TRUE(provider.isOfficialProbeSuppressed(now + 29.9));
    EXPECT_FALSE(provider.isOfficialProbeSuppressed(now - 3600)) << "the clock went back an hour";
    provider.snapshot(now - 3600);
    EXPECT_EQ(failing->calls, 2);
}
