// The Codex daemon's cost: a warm Codex refresh on the typical home with 20
// loaded threads on a connected daemon, beside the same refresh with no
// daemon; and the CPU the tray's follower thread spends while the daemon is
// connected and quiet, and per status change it hears.
#include "bench/RefreshBenchHomes.hpp"

#include "providers/codex/CodexDaemonStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestCodexDaemon.hpp"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace brindleaf::bench {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::TestCodexDaemon;

constexpr int loadedThreads = 20;

// The typical home's newest threads, as the daemon lists them: one waiting
// for an approval, one running, the rest idle.
std::vector<TestCodexDaemon::Thread> loadedThreadsOf(const BenchHome& home) {
    std::vector<TestCodexDaemon::Thread> threads;
    sqlite3* db = nullptr;
    const std::string path = (home.home.codexHome() / "state_5.sqlite").string();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return threads;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db,
                       "select id, rollout_path from threads where rollout_path is not null "
                       "order by updated_at desc limit ?",
                       -1, &statement, nullptr);
    sqlite3_bind_int(statement, 1, loadedThreads);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        TestCodexDaemon::Thread thread;
        thread.id = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        thread.path = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        thread.type = threads.size() < 2 ? "active" : "idle";
        if (threads.empty()) thread.flags = {"waitingOnApproval"};
        threads.push_back(std::move(thread));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return threads;
}

// A daemon in a control folder of its own (the bench home stays as written).
struct ConnectedDaemon {
    explicit ConnectedDaemon(const BenchHome& home) {
        fs::create_directories(control());
        fs::create_directories(dir / "socket");
        fs::permissions(dir / "socket", fs::perms(0700));
        daemon = std::make_unique<TestCodexDaemon>(dir / "socket" / "daemon.sock");
        fs::create_symlink(dir / "socket" / "daemon.sock", control() / CodexDaemonStatusProbe::socketName);
        daemon->setThreads(loadedThreadsOf(home));
        CodexDaemonStatusProbe::Options options;
        options.codexHome = dir.path().string();
        options.clientVersion = "bench";
        options.user = ::getuid();
        probe = std::make_shared<CodexDaemonStatusProbe>(options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!probe->isConnected() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fs::path control() const { return dir / CodexDaemonStatusProbe::controlFolderName; }

    TempDir dir;
    std::unique_ptr<TestCodexDaemon> daemon;
    std::shared_ptr<CodexDaemonStatusProbe> probe;
};

// The typical home's process table with a Codex front end in it, so that the wait counts.
ProcessSnapshotReader readerWithCodex(const BenchHome& home) {
    std::vector<ProcessResourceSample> samples = home.samples;
    ProcessResourceSample codex;
    codex.pid = 999999;
    codex.parentPID = 1;
    codex.command = "node /usr/lib/node_modules/@openai/codex/bin/codex.js";
    samples.push_back(codex);
    const ProcessSampleList list(std::move(samples));
    return [list] { return list; };
}

void codexWarm(benchmark::State& state, bool withDaemon) {
    BenchHome& home = benchHome(HomeSize::typical);
    std::unique_ptr<ConnectedDaemon> daemon;
    std::shared_ptr<CodexOfficialStatusProbe> probe = std::make_shared<NoopCodexOfficialStatusProbe>();
    if (withDaemon) {
        daemon = std::make_unique<ConnectedDaemon>(home);
        if (!daemon->probe->isConnected()) return state.SkipWithError("the daemon was not connected");
        probe = daemon->probe;
    }
    CodexStatusProvider provider(CodexProviderConfig::standard(home.home.codexHome().string(), std::nullopt),
                                 readerWithCodex(home), probe);
    provider.snapshot(currentDate());
    provider.snapshot(currentDate());
    std::size_t sessions = 0;
    std::size_t waiting = 0;
    for (auto _ : state) {
        auto snapshot = provider.snapshot(currentDate());
        sessions = snapshot.activeSessions.size();
        waiting = 0;
        for (const auto& session : snapshot.activeSessions) waiting += session.needsUserAttention ? 1 : 0;
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["sessions"] = double(sessions);
    state.counters["waiting"] = double(waiting);
}

// The follower's CPU over ten quiet seconds, and over 100 status changes.
void followerCPU(benchmark::State& state) {
    BenchHome& home = benchHome(HomeSize::typical);
    ConnectedDaemon daemon(home);
    if (!daemon.probe->isConnected()) return state.SkipWithError("the daemon was not connected");
    const auto threads = loadedThreadsOf(home);
    double quietPerSecond = 0;
    double perChange = 0;
    // The connection's own first work is over by then, its 5-second bound on
    // the first reads included (one wake-up of the loop when it runs out).
    std::this_thread::sleep_for(std::chrono::seconds(6));
    for (auto _ : state) {
        const double before = daemon.probe->followerCPUSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        quietPerSecond = (daemon.probe->followerCPUSeconds() - before) / 10.0;
        const double busyBefore = daemon.probe->followerCPUSeconds();
        for (int i = 0; i < 100; ++i)
            daemon.daemon->changeStatus(threads.at(2).id, i % 2 ? "idle" : "active");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        perChange = (daemon.probe->followerCPUSeconds() - busyBefore) / 100.0;
    }
    state.counters["quietCpuMicrosPerSecond"] = quietPerSecond * 1e6;
    state.counters["cpuMicrosPerChange"] = perChange * 1e6;
}

[[maybe_unused]] const bool registered = [] {
    benchmark::RegisterBenchmark("Daemon/Codex/warm-no-daemon/typical", [](benchmark::State& s) { codexWarm(s, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Daemon/Codex/warm-connected-20/typical", [](benchmark::State& s) { codexWarm(s, true); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Daemon/Codex/follower-cpu", followerCPU)->Iterations(1)->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace brindleaf::bench
