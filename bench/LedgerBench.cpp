#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "core/RunEvidence.hpp"
#include "core/RunStateLedger.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace brindleaf;

namespace {

constexpr Date benchStart = 1'780'000'000;

// A session shaped like the ones providers report: a UUID, a real title,
// working directory and log path, and a strong or weak evidence sentence.
AgentSession benchSession(const std::string& provider, int index, Date lastActivity) {
    char id[40];
    std::snprintf(id, sizeof id, "019a2f4e-7c1b-7d52-9e1a-%012d", index);
    static const char* const sentences[] = {"rollout has pending tool call", "Claude turn awaiting assistant response",
                                            "recent rollout activity", "official Codex app-server status: active"};
    return AgentSession({
        .id = id,
        .provider = provider,
        .title = "Refactor the billing pipeline to stream invoices #" + std::to_string(index),
        .cwd = "/home/dev/projects/billing-service/worktrees/feature-" + std::to_string(index % 17),
        .rolloutPath = "/home/dev/.codex/sessions/2026/12/09/rollout-2026-12-09T04-00-00-" + std::string(id) +
                       ".jsonl",
        .lastActivityAt = lastActivity,
        .evidence = sentences[index % 4],
        .needsUserAttention = index % 9 == 0,
        .resourceUsage = SessionResourceUsage(40'000 + index, 3.5, 180'000'000, 3),
        .runtimeProfile = SessionRuntimeProfile("gpt-5-codex", "high", SessionRuntimeProfileSource::codexThreadStore),
    });
}

const char* const providerNames[] = {"Codex", "Claude Code", "Hermes"};

// Three providers sharing `total` sessions, as one refresh delivers them.
std::vector<ProviderSnapshot> liveSnapshots(Date now, int total, int firstIndex) {
    std::vector<ProviderSnapshot> snapshots;
    int index = firstIndex;
    for (int p = 0; p < 3; ++p) {
        const int count = p == 2 ? total - 2 * (total * 2 / 5) : total * 2 / 5;
        std::vector<AgentSession> sessions;
        for (int i = 0; i < count; ++i, ++index)
            sessions.push_back(benchSession(providerNames[p], index, now - index % 30));
        snapshots.push_back(
            ProviderSnapshot::make(providerNames[p], std::nullopt, std::nullopt, std::move(sessions), 2, now, {}));
    }
    return snapshots;
}

// A ledger that has lived through many refreshes: 992 sessions of earlier
// runs, all finished, the way units pile up over days.
RunStateLedger historicalLedger(Date now) {
    RunStateLedger ledger(5);
    int index = 100'000;
    for (int batch = 0; batch < 100; ++batch) {
        const Date at = now - 20'000 + batch * 120;
        const int count = batch < 99 ? 10 : 2;
        auto snapshots = liveSnapshots(at, count, index);
        index += count;
        ledger.apply(snapshots, at);
        std::vector<ProviderSnapshot> finished;
        for (const char* name : providerNames)
            finished.push_back(ProviderSnapshot::make(name, std::nullopt, std::nullopt, {}, 0, at + 60, {}));
        ledger.apply(finished, at + 60);
    }
    return ledger;
}

} // namespace

// One refresh in a long-running process: 1,000 ledger units, of which the
// eight sessions of the current scans are live; Hermes reports nothing running, so
// its scan completion walks all of its units.
static void BM_LedgerApplyAndBuild1000Units(benchmark::State& state) {
    const Date now = benchStart;
    RunStateLedger ledger = historicalLedger(now);
    auto snapshots = liveSnapshots(now, 10, 0);
    snapshots[2] = ProviderSnapshot::make("Hermes", std::nullopt, std::nullopt, {}, 0, now, {});
    ledger.apply(snapshots, now);
    for (auto _ : state) {
        ledger.apply(snapshots, now);
        auto committed = ledger.buildSnapshot(snapshots, now);
        benchmark::DoNotOptimize(committed);
    }
    state.counters["units"] = static_cast<double>(ledger.unitCount());
}
BENCHMARK(BM_LedgerApplyAndBuild1000Units)->Unit(benchmark::kMicrosecond);

// The extreme: all 1,000 units are sessions live right now, each copied into
// the committed snapshot. As in the service, the collected provider snapshots
// are moved into the committed one (their copy is made outside the timing).
static void BM_LedgerApplyAndBuild1000LiveSessions(benchmark::State& state) {
    RunStateLedger ledger(5);
    const auto snapshots = liveSnapshots(benchStart, 1000, 0);
    ledger.apply(snapshots, benchStart);
    for (auto _ : state) {
        state.PauseTiming();
        auto collected = snapshots;
        state.ResumeTiming();
        ledger.apply(collected, benchStart + 1);
        auto committed = ledger.buildSnapshot(std::move(collected), benchStart + 1);
        benchmark::DoNotOptimize(committed);
    }
    state.counters["units"] = static_cast<double>(ledger.unitCount());
}
BENCHMARK(BM_LedgerApplyAndBuild1000LiveSessions)->Unit(benchmark::kMicrosecond);

static void BM_RunEvidenceDerive1000Sessions(benchmark::State& state) {
    std::vector<AgentSession> sessions;
    for (int i = 0; i < 1000; ++i) sessions.push_back(benchSession("Codex", i, benchStart));
    for (auto _ : state) {
        auto items = RunEvidence::derive("Codex", AgentRunState::inProgress, std::nullopt, sessions, benchStart, {});
        benchmark::DoNotOptimize(items);
    }
}
BENCHMARK(BM_RunEvidenceDerive1000Sessions)->Unit(benchmark::kMicrosecond);
