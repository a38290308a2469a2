// Benchmarks of the Hermes provider: a scan in which nothing changed over a
// session database of 5,000 sessions, and the classification of a 512 KiB
// agent-log tail.
#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/HomeRecipe.hpp"

#include "core/ProcessResourceSample.hpp"
#include "providers/hermes/HermesProviderConfig.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindleaf::bench {
namespace {

// A home with 5,000 Hermes sessions and a 512 KiB agent log, written once per run.
struct HermesBenchHome {
    std::filesystem::path root;
    GeneratedHome home;
    Date now = 0;
    std::vector<ProcessResourceSample> samples;

    HermesBenchHome() {
        char pattern[] = "/tmp/brindleaf-hermes-bench-XXXXXX";
        root = mkdtemp(pattern);
        HomeRecipe recipe;
        recipe.claudeTranscripts = 0;
        recipe.claudeProjects = 1;
        recipe.claudeEngines = 0;
        recipe.claudeStaleRegistry = 0;
        recipe.codexThreads = 0;
        recipe.codexLogRows = 0;
        recipe.codexRollouts = 0;
        recipe.codexAppProcesses = 0;
        recipe.hermesSessions = 5000;
        recipe.hermesMessagesPerSession = 6;
        recipe.hermesLogBytes = HermesStatusProvider::logTailBytes;
        recipe.hermesWorkers = 12;
        recipe.hermesChildren = 8;
        now = currentDate();
        home = HomeGenerator(recipe).write(root, now);

        // A process table of a busy machine; the planned workers appear in it
        // (their pids are synthetic: only the command lines matter here).
        int64_t pid = 1000;
        for (const auto& plan : home.processes) {
            std::string command;
            for (const auto& arg : plan.argv) command += (command.empty() ? "" : " ") + arg;
            samples.push_back({pid++, 1, 0.5, 50 << 20, command, plan.cwd.empty() ? std::nullopt : std::optional(plan.cwd)});
        }
        for (int i = 0; i < 400; ++i)
            samples.push_back({pid++, 1, 0.1, 10 << 20, "/usr/lib/some/daemon --instance " + std::to_string(i), "/"});
    }
    ~HermesBenchHome() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    static HermesBenchHome& shared() {
        static HermesBenchHome home;
        return home;
    }
};

void BM_HermesScanUnchanged5000Sessions(benchmark::State& state) {
    auto& bench = HermesBenchHome::shared();
    HermesProviderConfig config{.hermesHome = bench.home.hermesHome().string(),
                                .recentActivityWindow = 20.0,
                                .staleOpenSessionWindow = 300.0,
                                .stalePendingToolWindow = 900.0,
                                .runtimeActivityWindow = 180.0,
                                .recentSessionLimit = 40};
    auto samples = std::make_shared<const std::vector<ProcessResourceSample>>(bench.samples);
    HermesStatusProvider provider(config, [samples] { return *samples; });
    auto warm = provider.scan(bench.now); // fills the query and log caches
    if (!warm.errors.empty()) state.SkipWithError(warm.errors.front().c_str());
    for (auto _ : state) {
        auto snapshot = provider.scan(bench.now);
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["sessions"] = static_cast<double>(warm.activeSessions.size());
}
BENCHMARK(BM_HermesScanUnchanged5000Sessions)->Unit(benchmark::kMicrosecond);

void BM_HermesClassifyLogTail512KiB(benchmark::State& state) {
    auto& bench = HermesBenchHome::shared();
    const std::string path = (bench.home.hermesHome() / "logs" / "agent.log").string();
    std::size_t signals = 0;
    for (auto _ : state) {
        auto result = HermesStatusProvider::loadRuntimeSignals(path);
        signals = result.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["signals"] = static_cast<double>(signals);
}
BENCHMARK(BM_HermesClassifyLogTail512KiB)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace brindleaf::bench
