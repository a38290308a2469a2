// Parsing one regular transcript tail (128 KiB), beside the floor of merely
// splitting the same bytes into lines.
#include "bench/ClaudeBenchTranscripts.hpp"
#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"

#include <benchmark/benchmark.h>

#include <cstring>

using namespace brindleaf;

namespace {

const std::string& realisticTail() {
    static const std::string tail = [] {
        const std::string whole = claudebench::makeTranscript("0b6f2d4e-1111-4a2b-9c3d-5e6f7a8b9c0d",
                                                              "/home/dev/projects/shop", 400 * 1024, 1796000000);
        return whole.substr(whole.size() - ClaudeTranscriptAnalyzer::defaultMaxBytes); // starts mid-line
    }();
    return tail;
}

void ClaudeTranscript_ParseTail128KiB(benchmark::State& state) {
    const std::string& tail = realisticTail();
    for (auto _ : state) {
        auto parsed = ClaudeTranscriptAnalyzer::analyzeTail(tail, 1796000000);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tail.size()));
}
BENCHMARK(ClaudeTranscript_ParseTail128KiB)->Unit(benchmark::kMillisecond);

// The floor: find every line end with memchr.
void ClaudeTranscript_ParseTail128KiB_FloorLineSplit(benchmark::State& state) {
    const std::string& tail = realisticTail();
    for (auto _ : state) {
        size_t lines = 0;
        const char* cursor = tail.data();
        const char* end = cursor + tail.size();
        while (const char* newline = static_cast<const char*>(std::memchr(cursor, '\n', static_cast<size_t>(end - cursor)))) {
            ++lines;
            cursor = newline + 1;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tail.size()));
}
BENCHMARK(ClaudeTranscript_ParseTail128KiB_FloorLineSplit)->Unit(benchmark::kMillisecond);

} // namespace
