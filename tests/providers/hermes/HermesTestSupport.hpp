#pragma once

// Builders of a real Hermes home for the provider's tests: "state.db" with the
// tables Hermes writes, the JSON state files, the agent log, and worker
// processes whose command lines name the session they serve.

#include "core/Date.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace brindleaf::testing::hermes {

struct SessionRow {
    std::string id{};
    std::optional<std::string> source = "cli";
    std::optional<std::string> parentID{};
    std::optional<std::string> title{};
    std::optional<std::string> cwd{};
    std::optional<std::string> model{};
    std::optional<std::string> modelConfig{};
    std::optional<double> startedAt{};
    std::optional<double> endedAt{};
    std::optional<std::string> endReason{};
    int messageCount = 0;
    std::optional<std::string> handoffState{};
    int archived = 0;
};

struct MessageRow {
    std::string sessionID{};
    std::string role{};
    double timestamp = 0;
    std::optional<std::string> finishReason{};
    std::optional<std::string> toolName{};
    std::optional<std::string> toolCalls{};
};

// A real SQLite "state.db" with Hermes's "sessions" and "messages" tables.
class StateDatabase {
public:
    explicit StateDatabase(const std::string& path, bool withModelColumns = true) : models_(withModelColumns) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
        exec(std::string("create table sessions (id text primary key, source text, parent_session_id text, title text, "
                         "cwd text, ") +
             (models_ ? "model text, model_config text, " : "") +
             "started_at real, ended_at real, end_reason text, message_count integer, handoff_state text, "
             "handoff_platform text, archived integer not null default 0);"
             "create table messages (id integer primary key autoincrement, session_id text, role text, "
             "finish_reason text, tool_name text, tool_calls text, timestamp real);");
    }
    ~StateDatabase() { sqlite3_close(db_); }
    StateDatabase(const StateDatabase&) = delete;
    StateDatabase& operator=(const StateDatabase&) = delete;

    void add(const SessionRow& r) {
        exec("insert into sessions (id, source, parent_session_id, title, cwd, started_at, ended_at, end_reason, "
             "message_count, handoff_state, archived" + std::string(models_ ? ", model, model_config" : "") +
             ") values (" + sql(r.id) + ", " + sql(r.source) + ", " + sql(r.parentID) + ", " + sql(r.title) + ", " +
             sql(r.cwd) + ", " + sql(r.startedAt) + ", " + sql(r.endedAt) + ", " + sql(r.endReason) + ", " +
             std::to_string(r.messageCount) + ", " + sql(r.handoffState) + ", " + std::to_string(r.archived) +
             (models_ ? ", " + sql(r.model) + ", " + sql(r.modelConfig) : "") + ")");
    }

    void add(const MessageRow& r) {
        exec("insert into messages (session_id, role, finish_reason, tool_name, tool_calls, timestamp) values (" +
             sql(r.sessionID) + ", " + sql(r.role) + ", " + sql(r.finishReason) + ", " + sql(r.toolName) + ", " +
             sql(r.toolCalls) + ", " + sql(r.timestamp) + ")");
    }

    void exec(const std::string& statement) {
        char* error = nullptr;
        if (sqlite3_exec(db_, statement.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error("sqlite: " + message);
        }
    }

private:
    static std::string sql(const std::optional<std::string>& text) {
        if (!text) return "null";
        char* quoted = sqlite3_mprintf("%Q", text->c_str());
        std::string result = quoted;
        sqlite3_free(quoted);
        return result;
    }
    static std::string sql(std::optional<double> value) {
        if (!value) return "null";
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", *value);
        return buffer;
    }

    sqlite3* db_ = nullptr;
    bool models_;
};

// Sets TZ for the life of the object (Hermes logs in local time).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) setenv("TZ", old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// A date as the agent log writes it: local "YYYY-MM-DD HH:MM:SS,mmm".
inline std::string logTime(Date date) {
    const auto seconds = static_cast<std::time_t>(date);
    int millis = static_cast<int>((date - static_cast<double>(seconds)) * 1000 + 0.5);
    if (millis > 999) millis = 999;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d,%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
    return buffer;
}

// One agent-log line of a session.
inline std::string logLine(Date date, const std::string& sessionID, const std::string& message) {
    return logTime(date) + " INFO [" + sessionID + "] " + message + "\n";
}

// A real process whose command line is that of a Hermes terminal worker for `key`.
inline std::unique_ptr<ChildProcess> startWorker(const std::string& key) {
    return std::make_unique<ChildProcess>(
        "/usr/bin/perl", std::vector<std::string>{"python3", "-e", "sleep 60", "--", "-m", "tui_gateway.slash_worker",
                                                  "--session-key", key});
}

// A real sleeping process that is not a worker.
inline std::unique_ptr<ChildProcess> startSleeper() {
    return std::make_unique<ChildProcess>("/usr/bin/sleep", std::vector<std::string>{"sleep", "60"});
}

// The id of a process that existed and is gone.
inline pid_t deadPID() {
    ChildProcess gone("/usr/bin/sleep", {"sleep", "60"});
    const pid_t pid = gone.pid();
    gone.kill();
    return pid;
}

} // namespace brindleaf::testing::hermes
