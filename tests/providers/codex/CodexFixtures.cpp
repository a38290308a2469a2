#include "tests/providers/codex/CodexFixtures.hpp"

#include <sqlite3.h>

namespace brindleaf::testing {

SQLiteFile::SQLiteFile(const std::filesystem::path& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + path.string());
    exec("pragma synchronous = off");
}

SQLiteFile::~SQLiteFile() { sqlite3_close(db_); }

void SQLiteFile::exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown";
        sqlite3_free(message);
        throw std::runtime_error("sqlite: " + text + " in: " + sql);
    }
}

std::string sqlLiteral(const std::optional<std::string>& value) {
    if (!value) return "NULL";
    std::string out = "'";
    for (char c : *value) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string sqlLiteral(const std::optional<int64_t>& value) { return value ? std::to_string(*value) : "NULL"; }

CodexHomeFixture::CodexHomeFixture() = default;

CodexProviderConfig CodexHomeFixture::config() const {
    return CodexProviderConfig::standard(dir.path().string(), std::nullopt);
}

void CodexHomeFixture::createStateDatabase() {
    SQLiteFile db(statePath());
    db.exec("create table threads (id text primary key, rollout_path text, created_at integer, "
            "updated_at integer, updated_at_ms integer, recency_at integer, recency_at_ms integer, source text, "
            "cwd text, title text, first_user_message text, preview text, archived integer not null default 0, "
            "agent_nickname text, agent_role text, thread_source text, model text, reasoning_effort text);"
            "create table thread_spawn_edges (parent_thread_id text not null, child_thread_id text primary key, "
            "status text not null);");
}

void CodexHomeFixture::addThread(const ThreadRow& r) {
    SQLiteFile db(statePath());
    db.exec("insert into threads (id, title, first_user_message, preview, cwd, rollout_path, updated_at, "
            "updated_at_ms, archived, agent_nickname, agent_role, thread_source, model, reasoning_effort) values (" +
            sqlLiteral(std::optional<std::string>(r.id)) + ", " + sqlLiteral(r.title) + ", " +
            sqlLiteral(r.firstUserMessage) + ", " + sqlLiteral(r.preview) + ", " + sqlLiteral(r.cwd) + ", " +
            sqlLiteral(r.rolloutPath) + ", " + sqlLiteral(r.updatedAt) + ", " + sqlLiteral(r.updatedAtMs) + ", " +
            std::to_string(r.archived) + ", " + sqlLiteral(r.agentNickname) + ", " + sqlLiteral(r.agentRole) + ", " +
            sqlLiteral(r.threadSource) + ", " + sqlLiteral(r.model) + ", " + sqlLiteral(r.reasoningEffort) + ")");
}

void CodexHomeFixture::addEdge(const std::string& parent, const std::string& child, const std::string& status) {
    SQLiteFile db(statePath());
    db.exec("insert into thread_spawn_edges values (" + sqlLiteral(std::optional<std::string>(parent)) + ", " +
            sqlLiteral(std::optional<std::string>(child)) + ", " + sqlLiteral(std::optional<std::string>(status)) +
            ")");
}

void CodexHomeFixture::createLogDatabase(bool withIndex, bool withBody) {
    SQLiteFile db(logPath());
    db.exec(std::string("create table logs (id integer primary key autoincrement, ts integer not null, ts_nanos "
                        "integer not null default 0, level text, target text not null, ") +
            (withBody ? "feedback_log_body text, " : "") + "thread_id text);" +
            (withIndex ? "create index idx_logs_ts on logs(ts desc);" : ""));
}

void CodexHomeFixture::addLog(const std::optional<std::string>& threadID, int64_t ts, const std::string& target,
                              const std::optional<std::string>& body) {
    SQLiteFile db(logPath());
    db.exec("insert into logs (ts, level, target, feedback_log_body, thread_id) values (" + std::to_string(ts) +
            ", 'INFO', " + sqlLiteral(std::optional<std::string>(target)) + ", " + sqlLiteral(body) + ", " +
            sqlLiteral(threadID) + ")");
}

std::string CodexHomeFixture::writeRollout(const std::string& name, const std::vector<std::string>& lines,
                                           double modifiedAt) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    const auto path = dir.write("sessions/" + name, text);
    setFileTime(path, modifiedAt);
    return path.string();
}

ProcessSnapshotReader noProcesses() {
    return [] { return std::vector<ProcessResourceSample>{}; };
}

CodexCandidate candidate(std::string id, std::set<std::string> sources, std::optional<Date> updatedAt) {
    CodexCandidate c;
    c.id = std::move(id);
    c.title = c.id;
    c.sources = std::move(sources);
    c.updatedAt = updatedAt;
    return c;
}

namespace rollout {
std::string turnStarted() { return R"({"type":"event_msg","payload":{"type":"task_started"}})"; }
std::string functionCall(const std::string& callID, const std::string& name) {
    return R"({"type":"response_item","payload":{"type":"function_call","name":")" + name +
           R"(","arguments":"{}","call_id":")" + callID + "\"}}";
}
std::string taskComplete() { return R"({"type":"event_msg","payload":{"type":"task_complete"}})"; }
} // namespace rollout

} // namespace brindleaf::testing
