// What the service commits after a scan that wrongly found nothing running
// (the program stopped early on): the refresh times are a fake clock handed
// to snapshot().
#include "core/AgentStatusProvider.hpp"
#include "core/AgentStatusService.hpp"
#include "core/ProviderSnapshot.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr Date T = 1'780'000'000;

// A provider whose answer at each refresh time the test scripts.
class ScriptedProvider final : public AgentStatusProvider {
public:
    using Script = std::function<std::vector<AgentSession>(Date at)>;
    ScriptedProvider(std::string name, Script script) : name_(std::move(name)), script_(std::move(script)) {}
    std::string name() const override { return name_; }
    ProviderSnapshot snapshot(Date at) override {
        return ProviderSnapshot::make(name_, std::nullopt, std::nullopt, script_(at), 0, at, {});
    }

private:
    std::string name_;
    Script script_;
};

std::vector<AgentSession> codexThreads(int count) {
    std::vector<AgentSession> sessions;
    for (int i = 0; i < count; ++i) {
        sessions.push_back(AgentSession({.id = "thread-" + std::to_string(i),
                                         .provider = "Codex",
                                         .title = "Thread " + std::to_string(i),
                                         .cwd = "/src",
                                         .lastActivityAt = T - 600 + i,
                                         .evidence = "rollout has pending tool call"}));
    }
    return sessions;
}

} // namespace

TEST(AgentStatusServiceRecovery, SessionsHiddenByAScanRightAfterAStopComeBack) {
    // Started at T, stopped at T + 8 for 58 s: the first scan after the stop
    // finds nothing, the next ones find the ten threads again, unchanged.
    auto provider = std::make_shared<ScriptedProvider>(
        "Codex", [](Date at) { return at == T + 66 ? std::vector<AgentSession>{} : codexThreads(10); });
    AgentStatusService service({provider}, 60);
    EXPECT_EQ(service.snapshot(T).activeSessions.size(), 10u);
    EXPECT_EQ(service.snapshot(T + 6.5).activeSessions.size(), 10u);
    EXPECT_TRUE(service.snapshot(T + 66).activeSessions.empty());
    for (Date at : {T + 67.5, T + 69.0, T + 66 + 180}) {
        const auto committed = service.snapshot(at);
        EXPECT_EQ(committed.activeSessions.size(), 10u) << at - T;
        EXPECT_EQ(committed.providerSnapshots.at(0).state, AgentRunState::inProgress) << at - T;
    }
}
