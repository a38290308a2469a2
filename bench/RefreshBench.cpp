// The refresh budget: per provider and for a whole refresh through the status
// service, the warm cost (nothing changed since the last refresh) and the cold
// cost (a fresh provider, as in the command-line modes), each beside its floor
// measured in the same run. Names: "Refresh/<what>/<mode>/<size>" and
// "Floor/<what>/<mode>/<size>"; the summary table pairs them.
#include "bench/RefreshBenchHomes.hpp"
#include "bench/RefreshFloors.hpp"
#include "bench/RefreshRepeat.hpp"

#include "core/AgentStatusService.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "providers/claude/ClaudeProviderConfig.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <map>
#include <memory>

namespace brindleaf::bench {
namespace {

enum class Agent { claude, codex, hermes };

// The values the composition root passes; `rescanInterval` 10 is the tray
// application's listing reuse, 0 the command-line modes'.
std::shared_ptr<AgentStatusProvider> makeProvider(Agent agent, const std::string& home, ProcessSnapshotReader reader,
                                                  double rescanInterval) {
    switch (agent) {
    case Agent::claude:
        return std::make_shared<ClaudeStatusProvider>(ClaudeProviderConfig::standard(home, rescanInterval),
                                                      std::move(reader));
    case Agent::codex:
        return std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(home + "/.codex", std::nullopt),
                                                     std::move(reader));
    case Agent::hermes:
        return std::make_shared<HermesStatusProvider>(HermesProviderConfig::standard(home), std::move(reader));
    }
    return nullptr;
}

// The process table as a refresh of the tray application sees it between two
// background samplings: the same list every time.
ProcessSnapshotReader fixedReader(const BenchHome& home) {
    const ProcessSampleList samples(home.samples);
    return [samples] { return samples; };
}

std::unique_ptr<AgentStatusService> makeService(const std::string& home, const ProcessSnapshotReader& reader,
                                                double rescanInterval) {
    return std::make_unique<AgentStatusService>(
        std::vector<std::shared_ptr<AgentStatusProvider>>{makeProvider(Agent::codex, home, reader, rescanInterval),
                                                          makeProvider(Agent::claude, home, reader, rescanInterval),
                                                          makeProvider(Agent::hermes, home, reader, rescanInterval)},
        5.0);
}

std::string agentName(Agent agent) {
    switch (agent) {
    case Agent::claude: return "Claude";
    case Agent::codex: return "Codex";
    case Agent::hermes: return "Hermes";
    }
    return "";
}

const RefreshFloorPlan& floorPlan(HomeSize size) {
    static std::map<HomeSize, RefreshFloorPlan> plans;
    auto found = plans.find(size);
    if (found != plans.end()) return found->second;
    BenchHome& home = benchHome(size);
    return plans.emplace(size, RefreshFloorPlan::forHome(home.home, currentDate())).first->second;
}

void counters(benchmark::State& state, const AgentStatusSnapshot& snapshot) {
    state.counters["sessions"] = double(snapshot.activeSessions.size());
}

// --- providers -------------------------------------------------------------

void providerWarm(benchmark::State& state, Agent agent, HomeSize size, double rescanInterval) {
    BenchHome& home = benchHome(size);
    auto provider = makeProvider(agent, home.root(), fixedReader(home), rescanInterval);
    auto first = provider->snapshot(currentDate());
    benchmark::DoNotOptimize(first);
    provider->snapshot(currentDate());
    std::size_t sessions = 0;
    for (auto _ : state) {
        auto snapshot = provider->snapshot(currentDate());
        sessions = snapshot.activeSessions.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["sessions"] = double(sessions);
}

void providerCold(benchmark::State& state, Agent agent, HomeSize size) {
    BenchHome& home = benchHome(size);
    std::size_t sessions = 0;
    for (auto _ : state) {
        auto provider = makeProvider(agent, home.root(), ProcessResourceSampler::freshReader(), 0);
        auto snapshot = provider->snapshot(currentDate());
        sessions = snapshot.activeSessions.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["sessions"] = double(sessions);
}

// --- whole refresh ---------------------------------------------------------

void serviceWarm(benchmark::State& state, HomeSize size) {
    BenchHome& home = benchHome(size);
    auto service = makeService(home.root(), fixedReader(home), 10);
    service->snapshot(currentDate());
    service->snapshot(currentDate());
    for (auto _ : state) {
        auto snapshot = service->snapshot(currentDate());
        counters(state, snapshot);
        benchmark::DoNotOptimize(snapshot);
    }
}

void serviceCold(benchmark::State& state, HomeSize size) {
    BenchHome& home = benchHome(size);
    for (auto _ : state) {
        auto service = makeService(home.root(), ProcessResourceSampler::freshReader(), 0);
        auto snapshot = service->snapshot(currentDate());
        counters(state, snapshot);
        benchmark::DoNotOptimize(snapshot);
    }
}

// --- floors ----------------------------------------------------------------

void floorBenchmark(benchmark::State& state, HomeSize size, const std::function<uint64_t(const RefreshFloorPlan&)>& floor) {
    const RefreshFloorPlan& plan = floorPlan(size);
    for (auto _ : state) benchmark::DoNotOptimize(floor(plan));
}

// Concatenation without operator+ on temporaries (g++ 12 warns falsely on those).
std::string join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (auto part : parts) out.append(part);
    return out;
}

void registerAll() {
    for (HomeSize size : {HomeSize::typical, HomeSize::heavy}) {
        const std::string suffix = join({"/", toString(size)});
        for (Agent agent : {Agent::codex, Agent::claude, Agent::hermes}) {
            const std::string name = agentName(agent);
            benchmark::RegisterBenchmark(join({"Refresh/", name, "/warm", suffix}).c_str(),
                                         [=](benchmark::State& s) { providerWarm(s, agent, size, 10); })
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(join({"Refresh/", name, "/cold", suffix}).c_str(),
                                         [=](benchmark::State& s) { providerCold(s, agent, size); })
                ->Unit(benchmark::kMillisecond);
        }
        // The listing walk the tray application repeats every 10 seconds, and on every refresh of the command line.
        benchmark::RegisterBenchmark(join({"Refresh/Claude/warm-walk", suffix}).c_str(),
                                     [=](benchmark::State& s) { providerWarm(s, Agent::claude, size, 0); })
            ->Unit(benchmark::kMillisecond);
        // The service scans on its own threads: measure the CPU time of the whole process.
        benchmark::RegisterBenchmark(join({"Refresh/Service/warm", suffix}).c_str(),
                                     [=](benchmark::State& s) { serviceWarm(s, size); })
            ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
        benchmark::RegisterBenchmark(join({"Refresh/Service/cold", suffix}).c_str(),
                                     [=](benchmark::State& s) { serviceCold(s, size); })
            ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

        auto floor = [&](const std::string& name, std::function<uint64_t(const RefreshFloorPlan&)> fn) {
            benchmark::RegisterBenchmark(join({"Floor/", name, suffix}).c_str(),
                                         [=](benchmark::State& s) { floorBenchmark(s, size, fn); })
                ->Unit(benchmark::kMillisecond);
        };
        floor("Claude/warm", claudeWarmFloor);
        floor("Claude/warm-walk", claudeWalkFloor);
        floor("Claude/cold", [](const RefreshFloorPlan& p) { return claudeColdFloor(p) + processTableFloor(); });
        floor("Codex/warm", codexWarmFloor);
        floor("Codex/cold", [](const RefreshFloorPlan& p) { return codexColdFloor(p, currentDate()) + processTableFloor(); });
        floor("Hermes/warm", hermesWarmFloor);
        floor("Hermes/cold", [](const RefreshFloorPlan& p) { return hermesColdFloor(p) + processTableFloor(); });
        floor("Service/warm", [](const RefreshFloorPlan& p) {
            return claudeWarmFloor(p) + codexWarmFloor(p) + hermesWarmFloor(p);
        });
        floor("Service/cold", [](const RefreshFloorPlan& p) {
            return claudeColdFloor(p) + codexColdFloor(p, currentDate()) + hermesColdFloor(p) + processTableFloor();
        });
    }
    // The process table: the sampler against one raw /proc walk.
    benchmark::RegisterBenchmark("Refresh/ProcessTable/sample/machine", [](benchmark::State& s) {
        for (auto _ : s) benchmark::DoNotOptimize(ProcessResourceSampler::sampleAll());
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Floor/ProcessTable/sample/machine", [](benchmark::State& s) {
        for (auto _ : s) benchmark::DoNotOptimize(processTableFloor());
    })->Unit(benchmark::kMillisecond);
}

const bool registered = (registerAll(), true);

} // namespace

int repeatWarmRefresh(const std::string& which, int iterations) {
    auto slash = which.find('/');
    if (slash == std::string::npos) return 2;
    auto size = parseHomeSize(which.substr(slash + 1));
    const std::string what = which.substr(0, slash);
    if (!size) return 2;
    BenchHome& home = benchHome(*size);
    std::size_t sessions = 0;
    if (what == "Service") {
        auto service = makeService(home.root(), fixedReader(home), 10);
        service->snapshot(currentDate());
        service->snapshot(currentDate());
        for (int i = 0; i < iterations; ++i) sessions = service->snapshot(currentDate()).activeSessions.size();
    } else {
        std::optional<Agent> agent;
        for (Agent candidate : {Agent::claude, Agent::codex, Agent::hermes})
            if (agentName(candidate) == what) agent = candidate;
        if (!agent) return 2;
        auto provider = makeProvider(*agent, home.root(), fixedReader(home), 10);
        provider->snapshot(currentDate());
        provider->snapshot(currentDate());
        for (int i = 0; i < iterations; ++i) sessions = provider->snapshot(currentDate()).activeSessions.size();
    }
    std::fprintf(stderr, "%s: %d warm refreshes, %zu sessions shown\n", which.c_str(), iterations, sessions);
    return 0;
}
} // namespace brindleaf::bench
