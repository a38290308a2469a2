#include "providers/codex/CodexStatusProvider.hpp"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

using namespace brindleaf;

namespace {

constexpr int threadCount = 50'000;
constexpr int logRowCount = 1'000'000;
constexpr int64_t benchNow = 1'700'000'000;

void exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error(text);
    }
}

// A Codex home as a busy user has it: 50,000 threads (some sub-agents with
// spawn edges, the newest with rollout files) and 1,000,000 log rows, a few of
// them inside the runtime window.
class CodexBenchHome {
public:
    CodexBenchHome() {
        char pattern[] = "/tmp/brindleaf-codex-bench-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        home_ = pattern;
        std::filesystem::create_directories(home_ / "sessions");
        buildState();
        buildLogs();
    }
    ~CodexBenchHome() {
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }

    CodexProviderConfig config() const {
        return CodexProviderConfig::standard(home_.string(), std::nullopt);
    }

private:
    void buildState() {
        sqlite3* db = nullptr;
        sqlite3_open((home_ / "state_5.sqlite").c_str(), &db);
        exec(db, "pragma journal_mode = wal; pragma synchronous = off;");
        exec(db, "create table threads (id text primary key, rollout_path text, created_at integer, "
                 "updated_at integer, updated_at_ms integer, recency_at integer, recency_at_ms integer, "
                 "source text, cwd text, title text, first_user_message text, preview text, "
                 "archived integer not null default 0, agent_nickname text, agent_role text, thread_source text, "
                 "model text, reasoning_effort text);"
                 "create index idx_threads_updated_at on threads(updated_at desc);"
                 "create table thread_spawn_edges (parent_thread_id text not null, "
                 "child_thread_id text primary key, status text not null);");
        exec(db, "begin");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "insert into threads (id, rollout_path, created_at, updated_at, updated_at_ms, cwd, title, "
                           "first_user_message, preview, archived, agent_nickname, agent_role, thread_source, model, "
                           "reasoning_effort) values (?, ?, ?, ?, ?, '/home/dev/project', ?, ?, ?, ?, ?, ?, ?, "
                           "'gpt-5-codex', 'high')",
                           -1, &insert, nullptr);
        for (int i = 0; i < threadCount; ++i) {
            const std::string id = "019a0000-0000-7000-8000-" + std::to_string(100000000000 + i);
            const int64_t updated = benchNow - (threadCount - i) * 60; // the last thread is the newest
            std::string rollout = (home_ / "sessions" / ("rollout-" + std::to_string(i) + ".jsonl")).string();
            const bool subagent = i % 10 == 0;
            sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, rollout.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 3, updated - 600);
            sqlite3_bind_int64(insert, 4, updated);
            sqlite3_bind_int64(insert, 5, updated * 1000);
            const std::string title = "Thread number " + std::to_string(i);
            sqlite3_bind_text(insert, 6, title.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 7, "Please look at the failing build", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 8, "Please look at the failing build", -1, SQLITE_STATIC);
            sqlite3_bind_int(insert, 9, i % 50 == 0 ? 1 : 0);
            if (subagent) {
                sqlite3_bind_text(insert, 10, "scout", -1, SQLITE_STATIC);
                sqlite3_bind_text(insert, 11, "subagent", -1, SQLITE_STATIC);
                sqlite3_bind_text(insert, 12, "subagent", -1, SQLITE_STATIC);
            } else {
                sqlite3_bind_null(insert, 10);
                sqlite3_bind_null(insert, 11);
                sqlite3_bind_null(insert, 12);
            }
            sqlite3_step(insert);
            sqlite3_reset(insert);
            if (subagent && i > 0) {
                const std::string parent = "019a0000-0000-7000-8000-" + std::to_string(100000000000 + i - 1);
                const char* status = i >= threadCount - 200 ? "open" : "closed";
                exec(db, "insert into thread_spawn_edges values ('" + parent + "', '" + id + "', '" + status + "')");
            }
            if (i >= threadCount - 60) writeRollout(rollout, i);
        }
        sqlite3_finalize(insert);
        exec(db, "commit");
        exec(db, "pragma wal_checkpoint(truncate)");
        sqlite3_close(db);
    }

    void buildLogs() {
        sqlite3* db = nullptr;
        sqlite3_open((home_ / "logs_2.sqlite").c_str(), &db);
        exec(db, "pragma journal_mode = wal; pragma synchronous = off;");
        exec(db, "create table logs (id integer primary key autoincrement, ts integer not null, "
                 "ts_nanos integer not null default 0, level text not null, target text not null, "
                 "feedback_log_body text, module_path text, file text, line integer, thread_id text, "
                 "process_uuid text, estimated_bytes integer not null default 0);"
                 "create index idx_logs_ts on logs(ts desc, ts_nanos desc, id desc);"
                 "create index idx_logs_thread_id on logs(thread_id);");
        exec(db, "begin");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "insert into logs (ts, level, target, feedback_log_body, thread_id) values (?, 'INFO', ?, ?, ?)",
                           -1, &insert, nullptr);
        const char* targets[] = {"session_task.turn", "codex_core::stream_events_utils", "log", "codex_otel.log_only",
                                 "codex_core::client", "codex_api::sse::responses"};
        for (int i = 0; i < logRowCount; ++i) {
            // Oldest first; the last 300 rows fall inside the runtime window.
            const int64_t ts = i >= logRowCount - 300 ? benchNow - 10 : benchNow - 3600 - (logRowCount - i) / 10;
            const int thread = threadCount - 1 - (i % 30);
            const std::string id = "019a0000-0000-7000-8000-" + std::to_string(100000000000 + thread);
            sqlite3_bind_int64(insert, 1, ts);
            sqlite3_bind_text(insert, 2, targets[i % 6], -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 3, i % 3 == 0 ? "session_loop{thread_id=...} submission_dispatch" : "event",
                              -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 4, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        exec(db, "commit");
        exec(db, "pragma wal_checkpoint(truncate)");
        sqlite3_close(db);
    }

    static void writeRollout(const std::string& path, int i) {
        std::ofstream out(path);
        for (int turn = 0; turn < 40; ++turn) {
            out << R"({"type":"event_msg","payload":{"type":"task_started"}})" "\n";
            out << R"({"type":"response_item","payload":{"type":"function_call","name":"shell","arguments":"{\"command\":[\"ls\"]}","call_id":"c)"
                << turn << "\"}}\n";
            out << R"({"type":"response_item","payload":{"type":"function_call_output","call_id":"c)" << turn
                << R"(","output":")" << std::string(1500, 'o') << "\"}}\n";
            if (turn < 39 || i % 2 == 0) out << R"({"type":"event_msg","payload":{"type":"task_complete"}})" "\n";
        }
    }

    std::filesystem::path home_;
};

CodexBenchHome& benchHome() {
    static CodexBenchHome home;
    return home;
}

ProcessSnapshotReader noProcesses() {
    return [] { return std::vector<ProcessResourceSample>{}; };
}

void BM_CodexScanUnchanged(benchmark::State& state) {
    CodexStatusProvider provider(benchHome().config(), noProcesses(),
                                 std::make_shared<NoopCodexOfficialStatusProbe>());
    benchmark::DoNotOptimize(provider.snapshot(static_cast<Date>(benchNow))); // fills the caches
    for (auto _ : state) {
        ProviderSnapshot snapshot = provider.snapshot(static_cast<Date>(benchNow));
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(BM_CodexScanUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CodexScanFirst(benchmark::State& state) {
    const CodexProviderConfig config = benchHome().config();
    for (auto _ : state) {
        CodexStatusProvider provider(config, noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>());
        ProviderSnapshot snapshot = provider.snapshot(static_cast<Date>(benchNow));
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(BM_CodexScanFirst)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
