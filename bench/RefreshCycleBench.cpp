// The running refresh cycle on the typical home, with the real status
// service, inotify watchers and status bar controller, on a main queue of its
// own thread and a surface that only counts:
//   Cycle/append-to-apply/<route>/typical: from appending a line to the
//     newest Claude transcript (a shown session) to the end of the first
//     refresh that started after the file-triggered request (20 writes; p50,
//     p95 and max as counters). "session": as the tray application runs, the
//     session-activity watch (200 ms debounce) reports first;
//     "folder-watch-only": without the session-activity watch, through the
//     agent-folder watch alone (350 ms debounce).
//   Cycle/idle/typical: the process's user + system time over 2 minutes of
//     the cycle running with nothing written, as a percentage of one core.
//   Cycle/idle-no-agents/typical: the same with no agent folder readable, so
//     no provider is asked: the cost of the cycle itself (timers, queue,
//     coalescer, watchers, log lines) at the idle poll spacing.
#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/CompositionRoot.hpp"
#include "app/FileWatchTargets.hpp"
#include "app/StatusBarController.hpp"
#include "bench/ClaudeBenchTranscripts.hpp"
#include "bench/RefreshBenchHomes.hpp"
#include "platform/Logger.hpp"
#include "platform/ThreadMainQueue.hpp"
#include "platform/TimedLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "services/FileChangeWatcher.hpp"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::bench;

namespace {

class CountingSurface final : public StatusItemSurface {
public:
    void reloadIcons() override {}
    void render(const AgentStatusSnapshot&) override { ++renders; }
    std::atomic<int> renders{0};
};

class QuietDashboard final : public StatusDashboardSink {
public:
    void publishSnapshot(const AgentStatusSnapshot&) override {}
    std::int64_t beginManualRefresh() override { return ++generation; }
    void finishRefresh(std::int64_t) override {}
    ClearedStaleBaselines clearedStaleBaselines() const override { return {}; }
    void announceChange() override {}
    std::int64_t generation = 0;
};

class FixedFolderAccess final : public FolderAccessQueries {
public:
    explicit FixedFolderAccess(bool open) : open_(open) {}
    bool hasAccess(const std::string&) const override { return open_; }
    void setOnGrantedFoldersChange(std::function<void()>) override {}

private:
    bool open_;
};

class NoHotkey final : public HotkeyRegistrar {
public:
    void registerShortcut(const HotkeyShortcut&) override {}
};

class NoWatching final : public FileChangeWatcher {
public:
    void watch(std::vector<std::string>, Callback) override {}
    void stop() override {}
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The whole cycle on one home, started on its main queue and stopped there.
struct RunningCycle {
    // Without readable folders no provider is asked: only the cycle itself runs.
    // Without the session watch, file changes reach the cycle through the
    // agent-folder watch alone.
    explicit RunningCycle(const BenchHome& home, bool readableFolders = true, bool sessionWatch = true) {
        const std::string root = home.root();
        StatusBarController::Dependencies deps;
        deps.mainQueue = queue;
        deps.service = CompositionRoot::makeStatusService(root + "/.codex", std::nullopt, false,
                                                          CompositionRoot::providerTimeout, root);
        deps.codexWatchConfiguration = CodexRuntimeWatchConfiguration({}, root);
        deps.home = root;
        deps.settings = std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("refresh-cycle-bench"));
        deps.folderAccess = std::make_shared<FixedFolderAccess>(readableFolders);
        StatusCloudSyncController::Options sync;
        sync.mainQueue = queue;
        deps.cloudSync = StatusCloudSyncController::make(std::move(sync));
        deps.statusItem = surface;
        deps.dashboard = std::make_shared<QuietDashboard>();
        deps.popoverHotkey = std::make_shared<NoHotkey>();
        deps.windowHotkey = std::make_shared<NoHotkey>();
        deps.fileWatcher = std::make_shared<FileChangeWatcher>();
        deps.runtimeLogFileWatcher = std::make_shared<FileChangeWatcher>();
        if (sessionWatch)
            deps.sessionActivityFileWatcher = std::make_shared<FileChangeWatcher>();
        else
            deps.sessionActivityFileWatcher = std::make_shared<NoWatching>();
        queue->runAndWait([&] { controller = StatusBarController::make(std::move(deps)); });
    }
    ~RunningCycle() {
        queue->runAndWait([&] { controller.reset(); });
    }
    // Waits (up to a minute) until this many refreshes were applied.
    bool waitForRenders(int count) {
        for (int i = 0; i < 6000 && surface->renders < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return surface->renders >= count;
    }

    std::shared_ptr<ThreadMainQueue> queue = std::make_shared<ThreadMainQueue>();
    std::shared_ptr<CountingSurface> surface = std::make_shared<CountingSurface>();
    std::shared_ptr<StatusBarController> controller;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(std::ceil(p * double(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

// The time of the end of the first run that started at or after `requestedAt`.
std::optional<double> appliedAfter(const std::vector<TimedLogSink::Line>& lines, double requestedAt) {
    std::optional<std::string> finished;
    for (const auto& line : lines) {
        const auto& message = line.record.message;
        if (!finished && line.monotonicTime >= requestedAt && message.starts_with("refresh.started id="))
            finished = "refresh.finished id=" + message.substr(std::string("refresh.started id=").size()) + " ";
        else if (finished && message.starts_with(*finished))
            return line.monotonicTime;
    }
    return std::nullopt;
}

void appendToApply(benchmark::State& state, bool sessionWatch) {
    BenchHome& home = benchHome(HomeSize::typical);
    auto transcripts = FileWatchTargets::recentClaudeTranscriptFiles(home.root() + "/.claude/projects", currentDate());
    if (transcripts.empty()) {
        state.SkipWithError("no recent transcript in the typical home");
        return;
    }
    const std::string transcript = transcripts.front();
    auto sink = std::make_shared<TimedLogSink>();
    Logger::setSink(sink);
    Logger::setDebugEnabled(true); // the per-refresh lines timed below
    std::vector<double> latencies;
    {
        RunningCycle cycle(home, true, sessionWatch);
        cycle.waitForRenders(1);
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the first watch rebuild is armed
        for (auto _ : state) {
            sink->clear();
            double writtenAt = monotonicSeconds();
            std::ofstream(transcript, std::ios::app)
                << R"({"type":"user","message":{"role":"user","content":"bench"},"timestamp":")"
                << claudebench::isoTime(currentDate()) << "\"}\n";
            std::optional<double> requestedAt, appliedAt;
            for (int i = 0; i < 1000 && !appliedAt; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                auto lines = sink->lines();
                if (!requestedAt)
                    for (const auto& line : lines)
                        if (line.record.message.starts_with("refresh.requested reason=file-change:" + transcript) ||
                            line.record.message.starts_with("refresh.requested reason=session-activity:" +
                                                            transcript)) {
                            requestedAt = line.monotonicTime;
                            break;
                        }
                if (requestedAt) appliedAt = appliedAfter(lines, *requestedAt);
            }
            if (!appliedAt) {
                state.SkipWithError("the write was not followed by a refresh within 5 seconds");
                break;
            }
            latencies.push_back(*appliedAt - writtenAt);
            state.SetIterationTime(*appliedAt - writtenAt);
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
        }
    }
    Logger::setSink(nullptr);
    if (latencies.empty()) return;
    state.counters["p50_ms"] = percentile(latencies, 0.5) * 1000;
    state.counters["p95_ms"] = percentile(latencies, 0.95) * 1000;
    state.counters["max_ms"] = percentile(latencies, 1.0) * 1000;
}

void idleCycle(benchmark::State& state, bool scans) {
    BenchHome& home = benchHome(HomeSize::typical);
    // BRINDLEAF_BENCH_IDLE_SECONDS shortens the run, for profiling.
    const char* override = std::getenv("BRINDLEAF_BENCH_IDLE_SECONDS");
    const double seconds = override ? std::max(1.0, std::atof(override)) : 120.0;
    for (auto _ : state) {
        RunningCycle cycle(home, scans);
        cycle.waitForRenders(1);
        std::this_thread::sleep_for(std::chrono::seconds(5)); // the start-up scans are done
        int rendersBefore = cycle.surface->renders;
        double cpuBefore = cpuSeconds();
        double wallBefore = monotonicSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        double cpu = cpuSeconds() - cpuBefore;
        double wall = monotonicSeconds() - wallBefore;
        state.SetIterationTime(wall);
        state.counters["core_percent"] = cpu / wall * 100;
        state.counters["cpu_ms"] = cpu * 1000;
        state.counters["refreshes"] = cycle.surface->renders - rendersBefore;
    }
}

} // namespace

BENCHMARK_CAPTURE(appendToApply, session, true)
    ->Name("Cycle/append-to-apply/session/typical")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(appendToApply, folder, false)
    ->Name("Cycle/append-to-apply/folder-watch-only/typical")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(idleCycle, scans, true)
    ->Name("Cycle/idle/typical")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(idleCycle, none, false)
    ->Name("Cycle/idle-no-agents/typical")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
