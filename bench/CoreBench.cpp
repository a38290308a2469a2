// Benchmarks of the core infrastructure: a full process sampling against the
// floor of merely reading the same /proc files, and the timestamp parser.
#include "core/ProcessResourceSampler.hpp"
#include "core/TimestampParsing.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace brindleaf;

// Opens and reads the files one sampling needs, and nothing else: stat,
// cmdline (comm when cmdline is empty) and the cwd link of every process.
std::size_t readProcFloor() {
    char path[300];
    char buffer[8192];
    std::size_t total = 0;
    DIR* dir = opendir("/proc");
    if (!dir) return 0;
    auto readFile = [&](const char* file) -> ssize_t {
        int fd = open(file, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        ssize_t n = read(fd, buffer, sizeof(buffer));
        close(fd);
        return n;
    };
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        std::snprintf(path, sizeof(path), "/proc/%s/stat", entry->d_name);
        ssize_t n = readFile(path);
        if (n <= 0) continue;
        total += static_cast<std::size_t>(n);
        std::snprintf(path, sizeof(path), "/proc/%s/cmdline", entry->d_name);
        n = readFile(path);
        if (n == 0) {
            std::snprintf(path, sizeof(path), "/proc/%s/comm", entry->d_name);
            n = readFile(path);
        }
        if (n > 0) total += static_cast<std::size_t>(n);
        std::snprintf(path, sizeof(path), "/proc/%s/cwd", entry->d_name);
        n = readlink(path, buffer, sizeof(buffer));
        if (n > 0) total += static_cast<std::size_t>(n);
    }
    closedir(dir);
    return total;
}

void BM_ProcFloorLoop(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(readProcFloor());
}
BENCHMARK(BM_ProcFloorLoop)->Unit(benchmark::kMicrosecond);

void BM_SampleAll(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ProcessResourceSampler::sampleAll());
}
BENCHMARK(BM_SampleAll)->Unit(benchmark::kMicrosecond);

// Both in one run, alternating, with the ratio as a counter (target: at most 1.3).
void BM_SampleAllOverFloor(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Clock::duration floor{}, sampling{};
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(readProcFloor());
        auto middle = Clock::now();
        benchmark::DoNotOptimize(ProcessResourceSampler::sampleAll());
        auto end = Clock::now();
        floor += middle - start;
        sampling += end - middle;
    }
    state.counters["ratio"] = std::chrono::duration<double>(sampling).count() /
                              std::chrono::duration<double>(floor).count();
}
BENCHMARK(BM_SampleAllOverFloor)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_ParseISO8601Timestamp(benchmark::State& state) {
    const std::string_view texts[] = {"2024-05-06T07:08:09.123Z", "2025-11-30T23:59:59.999999Z",
                                      "2023-01-01T00:00:00Z", "2024-02-29 12:34:56.5Z"};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseISO8601Timestamp(texts[i & 3]));
        ++i;
    }
}
BENCHMARK(BM_ParseISO8601Timestamp);

} // namespace
