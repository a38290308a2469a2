// The cloud sync's work per applied refresh: build the payload from a
// committed snapshot, take its signature, and (when saving) encode it.
#include "core/AgentStatusSnapshot.hpp"
#include "sync/StatusPayloadBuilder.hpp"
#include "sync/StatusPayloadCodec.hpp"
#include "sync/SyncSignature.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace brindleaf;

AgentStatusSnapshot busySnapshot() {
    const Date now = 1769850300.0;
    std::vector<ProviderSnapshot> providers;
    for (const char* name : {"Codex", "Claude Code", "Hermes"}) {
        std::vector<AgentSession> sessions;
        for (int i = 0; i < 8; ++i) {
            std::string id = std::string(name) + "_019a2b3c4d5e6f" + std::to_string(i);
            sessions.push_back(AgentSession({.id = id,
                                             .provider = name,
                                             .parentID = "parent_0123456789",
                                             .agentNickname = "scout",
                                             .title = "Refactor the sync client so that offline edits survive restarts\nand more",
                                             .cwd = "/home/ann/src/project/../project/app",
                                             .lastActivityAt = now - i,
                                             .evidence = "rollout has pending tool call for shell command make test",
                                             .resourceUsage = SessionResourceUsage(4000 + i, 12.5, 300 << 20, 3),
                                             .runtimeProfile = SessionRuntimeProfile("gpt-5-codex", "high",
                                                                                     SessionRuntimeProfileSource::codexThreadStore),
                                             .evidenceStrength = RunEvidenceStrength::weakRecent,
                                             .evidenceLeaseExpiresAt = now + 20}));
        }
        providers.push_back(ProviderSnapshot::make(name, std::nullopt, std::nullopt, sessions, 2, now,
                                                   {"database is locked\nretrying"}));
    }
    return AgentStatusSnapshot::make(providers, now);
}

void BM_StatusPayloadBuildAndSignature(benchmark::State& state) {
    auto snapshot = busySnapshot();
    auto privacy = StatusPayloadPrivacy::standard();
    auto stale = rawStaleSessionSource();
    for (auto _ : state) {
        auto payload = buildStatusPayload(snapshot, "Desk", privacy, stale);
        benchmark::DoNotOptimize(syncSignature(payload));
    }
}
BENCHMARK(BM_StatusPayloadBuildAndSignature);

void BM_StatusPayloadEncode(benchmark::State& state) {
    auto payload = buildStatusPayload(busySnapshot(), "Desk", StatusPayloadPrivacy::standard(), rawStaleSessionSource());
    for (auto _ : state) benchmark::DoNotOptimize(StatusPayloadCodec::encode(payload));
}
BENCHMARK(BM_StatusPayloadEncode);

} // namespace
