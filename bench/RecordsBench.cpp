#include "core/ProviderSnapshot.hpp"

#include <benchmark/benchmark.h>

using namespace brindleaf;

static void BM_ProviderSnapshotMake(benchmark::State& state) {
    for (auto _ : state) {
        auto snapshot = ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, 0, 100, {});
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(BM_ProviderSnapshotMake);
