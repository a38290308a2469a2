// Claude Code scans: a refresh in which nothing changed over a large home,
// and the first scan of a process with its one-time deep pass.
#include "bench/ClaudeBenchTranscripts.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "providers/claude/ClaudeEngineLivenessIndex.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

using namespace brindleaf;
namespace fs = std::filesystem;

namespace {

constexpr Date benchNow = 1796000000;

class BenchHome {
public:
    BenchHome() {
        std::string pattern = "/tmp/brindleaf-claude-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~BenchHome() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;
    const fs::path& root() const { return root_; }
    fs::path projects() const { return root_ / ".claude" / "projects"; }

    void write(const fs::path& path, const std::string& contents, Date modifiedAt) const {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(contents.data(), static_cast<std::streamsize>(contents.size()));
        timespec times[2];
        times[0].tv_sec = static_cast<time_t>(modifiedAt);
        times[0].tv_nsec = 0;
        times[1] = times[0];
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    ClaudeProviderConfig config(double rescanInterval) const {
        return ClaudeProviderConfig(root_.string() + "/.claude", 20, 900, 28800, 1800, root_.string() + "/tmp", 80,
                                    root_.string() + "/.config/Claude", rescanInterval);
    }

private:
    fs::path root_;
};

std::string sessionID(size_t n) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%08zx-1111-4a2b-9c3d-5e6f7a8b9c0d", n);
    return buffer;
}

// 5,000 transcripts in 300 project folders, one in ten with a sub-agent transcript.
void fillLargeHome(const BenchHome& h) {
        for (size_t i = 0; i < 5000; ++i) {
            const size_t project = i % 300;
            const std::string cwd = "/home/dev/work/project-" + std::to_string(project);
            const fs::path folder = h.projects() / ClaudeEngineLivenessIndex::projectKey(cwd);
            const Date modified = benchNow - static_cast<double>(i) * 97.0;
            const std::string id = sessionID(i);
            h.write(folder / (id + ".jsonl"), claudebench::makeTranscript(id, cwd, 12 * 1024, modified), modified);
            if (i % 10 == 0) {
                h.write(folder / id / "subagents" / "agent-a1.jsonl",
                        claudebench::makeTranscript(id, cwd, 4 * 1024, modified), modified);
                h.write(folder / id / "subagents" / "agent-a1.meta.json", R"({"toolUseId":"toolu_x"})", modified);
            }
        }
}

const BenchHome& largeHome() {
    static const BenchHome home;
    static const bool filled = (fillLargeHome(home), true);
    (void)filled;
    return home;
}

void ClaudeScan_Unchanged5000Transcripts(benchmark::State& state) {
    const BenchHome& home = largeHome();
    const auto samples = ProcessResourceSampler::sampleAll(); // the application's cached table
    ClaudeStatusProvider provider(home.config(10), [samples] { return samples; });
    provider.scan(benchNow); // fills the listing, the analysis and the deep pass
    size_t rows = 0;
    for (auto _ : state) {
        auto snapshot = provider.scan(benchNow);
        rows = snapshot.activeSessions.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(ClaudeScan_Unchanged5000Transcripts)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// 80 transcripts of 8 MiB, all active within the deep pass's window, each
// with a background launch far before its regular tail.
void fillBigTranscriptHome(const BenchHome& h) {
        for (size_t i = 0; i < 80; ++i) {
            const std::string cwd = "/home/dev/work/big-" + std::to_string(i % 8);
            const std::string id = sessionID(i);
            const Date modified = benchNow - 60.0 - static_cast<double>(i);
            claudebench::TranscriptWriter writer(id, cwd, modified - 4 * 3600);
            std::string text;
            text.reserve(8 * 1024 * 1024 + 16384);
            writer.exchange(text, 6000);
            writer.backgroundLaunch(text, "bg" + std::to_string(i));
            while (text.size() < 8 * 1024 * 1024) writer.exchange(text, 6000);
            h.write(h.projects() / ClaudeEngineLivenessIndex::projectKey(cwd) / (id + ".jsonl"), text, modified);
        }
}

const BenchHome& bigTranscriptHome() {
    static const BenchHome home;
    static const bool filled = (fillBigTranscriptHome(home), true);
    (void)filled;
    return home;
}

void ClaudeScan_FirstScanWithDeepPass80x8MiB(benchmark::State& state) {
    const BenchHome& home = bigTranscriptHome();
    size_t rows = 0;
    for (auto _ : state) {
        // As at the application's start: the process table is not sampled yet.
        ClaudeStatusProvider provider(home.config(10), [] { return std::vector<ProcessResourceSample>{}; });
        auto snapshot = provider.scan(benchNow);
        rows = snapshot.activeSessions.size(); // every session is kept shown by its carried launch
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(ClaudeScan_FirstScanWithDeepPass80x8MiB)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
