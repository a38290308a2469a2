#include "bench/generator/AgentHomeWriters.hpp"
#include "bench/generator/SQLiteWriter.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace brindleaf::bench {

using writing::jsonEscape;
using writing::jsonString;
using writing::Random;

namespace {

constexpr double hour = 3600;
constexpr double day = 86400;

enum class Ending { done, working, thinking, waitingForInput, escalation };

struct Thread {
    std::string id;
    std::string cwd;
    std::string title;
    std::string firstMessage;
    Date createdAt = 0;
    Date updatedAt = 0;
    std::string rolloutPath;
    bool subagent = false;
    std::string parent;
    bool archived = false;
    bool active = false;
    Ending ending = Ending::done;
};

// A thread id in the shape Codex uses (a time-ordered UUID).
std::string threadId(Random& random) {
    return "019b" + random.hex(4) + "-" + random.hex(4) + "-7" + random.hex(3) + "-8" + random.hex(3) + "-" + random.hex(12);
}

std::string rolloutPath(const std::filesystem::path& codexHome, Date createdAt, const std::string& id) {
    time_t seconds = static_cast<time_t>(createdAt);
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char folder[64];
    char stamp[96];
    std::snprintf(folder, sizeof folder, "%04d/%02d/%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return (codexHome / "sessions" / folder / (std::string("rollout-") + stamp + "-" + id + ".jsonl")).string();
}

class RolloutBuilder {
public:
    explicit RolloutBuilder(Random& random) : random_(random) {}
    std::string& text() { return out_; }

    void line(Date at, const char* type, const std::string& payload) {
        out_ += "{\"timestamp\":\"" + writing::isoTimestamp(at) + "\",\"type\":\"" + type + "\",\"payload\":" + payload + "}\n";
    }
    void meta(const Thread& t) {
        line(t.createdAt, "session_meta",
             "{\"id\":\"" + t.id + "\",\"timestamp\":\"" + writing::isoTimestamp(t.createdAt) + "\",\"cwd\":" +
                 jsonString(t.cwd) +
                 ",\"originator\":\"codex_cli_rs\",\"cli_version\":\"0.63.0\",\"instructions\":null,\"source\":\"cli\","
                 "\"model_provider\":\"openai\",\"git\":{\"commit_hash\":\"" + random_.hex(40) +
                 "\",\"branch\":\"main\"}}");
        line(t.createdAt, "turn_context",
             "{\"cwd\":" + jsonString(t.cwd) +
                 ",\"approval_policy\":\"on-request\",\"sandbox_policy\":{\"type\":\"workspace-write\"},"
                 "\"model\":\"gpt-5.1-codex\",\"effort\":\"medium\",\"summary\":\"auto\"}");
    }
    void turnStart(Date at, const std::string& prompt) {
        line(at, "event_msg", "{\"type\":\"task_started\",\"model_context_window\":272000}");
        line(at, "response_item",
             "{\"type\":\"message\",\"role\":\"user\",\"content\":[{\"type\":\"input_text\",\"text\":" + jsonString(prompt) + "}]}");
        line(at, "event_msg", "{\"type\":\"user_message\",\"message\":" + jsonString(prompt) + ",\"images\":[]}");
    }
    std::string call(Date at, const std::string& name, const std::string& argumentsJson) {
        std::string id = "call_" + random_.hex(24);
        line(at, "response_item",
             "{\"type\":\"reasoning\",\"summary\":[{\"type\":\"summary_text\",\"text\":\"**Inspecting the code**\"}],"
             "\"content\":null,\"encrypted_content\":\"gAAAAA" + random_.hex(180) + "\"}");
        line(at, "response_item",
             "{\"type\":\"function_call\",\"name\":\"" + name + "\",\"arguments\":" + jsonString(argumentsJson) +
                 ",\"call_id\":\"" + id + "\"}");
        return id;
    }
    void output(Date at, const std::string& id, std::size_t bytes) {
        line(at, "response_item",
             "{\"type\":\"function_call_output\",\"call_id\":\"" + id + "\",\"output\":\"" +
                 writing::escapedFiller(random_, bytes) + "\"}");
        line(at, "event_msg",
             "{\"type\":\"token_count\",\"info\":{\"total_token_usage\":{\"input_tokens\":" +
                 std::to_string(random_.between(1000, 90000)) + ",\"output_tokens\":" +
                 std::to_string(random_.between(100, 9000)) + "}},\"rate_limits\":null}");
    }
    void turnEnd(Date at, const std::string& message) {
        line(at, "response_item",
             "{\"type\":\"message\",\"role\":\"assistant\",\"content\":[{\"type\":\"output_text\",\"text\":" +
                 jsonString(message) + "}]}");
        line(at, "event_msg", "{\"type\":\"agent_message\",\"message\":" + jsonString(message) + "}");
        line(at, "event_msg", "{\"type\":\"task_complete\",\"last_agent_message\":" + jsonString(message) + "}");
    }

private:
    Random& random_;
    std::string out_;
};

std::string shellArguments(Random& random, const std::string& cwd, bool escalated) {
    std::string args = "{\"command\":[\"bash\",\"-lc\",\"rg -n TODO src | head -" + std::to_string(random.between(5, 90)) +
                       "\"],\"workdir\":" + jsonString(cwd) + ",\"timeout_ms\":120000";
    if (escalated) args += ",\"sandbox_permissions\":\"require_escalated\",\"justification\":\"Needs network access\"";
    return args + "}";
}

std::string rolloutText(Random& random, const Thread& t, std::size_t targetBytes) {
    RolloutBuilder builder(random);
    builder.text().reserve(targetBytes + 4096);
    builder.meta(t);
    double step = std::max(0.05, (t.updatedAt - t.createdAt) / std::max<double>(8, double(targetBytes) / 900.0));
    Date at = t.createdAt;
    while (builder.text().size() < targetBytes) {
        builder.turnStart(at, writing::sentence(random, random.between(6, 20)));
        std::size_t calls = random.between(1, 5);
        for (std::size_t c = 0; c < calls; ++c) {
            at += step;
            std::string id = builder.call(at, "shell", shellArguments(random, t.cwd, false));
            at += step;
            builder.output(at, id, random.chance(0.1) ? random.between(4000, 20000) : random.between(100, 2000));
        }
        at += step;
        builder.turnEnd(std::min(at, t.updatedAt), writing::sentence(random, random.between(8, 30)));
    }
    Date last = t.updatedAt;
    switch (t.ending) {
    case Ending::done:
        break;
    case Ending::working:
        builder.turnStart(last - 4, writing::sentence(random, 12));
        builder.call(last, "shell", shellArguments(random, t.cwd, false));
        break;
    case Ending::thinking:
        builder.turnStart(last, writing::sentence(random, 12));
        break;
    case Ending::waitingForInput:
        builder.turnStart(last - 4, writing::sentence(random, 12));
        builder.call(last, "request_user_input",
                     "{\"questions\":[{\"id\":\"target\",\"question\":\"Which branch should I rebase onto?\"}]}");
        break;
    case Ending::escalation:
        builder.turnStart(last - 4, writing::sentence(random, 12));
        builder.call(last, "shell", shellArguments(random, t.cwd, true));
        break;
    }
    return std::move(builder.text());
}

const char* const logTargets[] = {"codex_core::codex", "codex_core::exec", "hyper_util::client::legacy::pool",
                                  "rmcp::service", "codex_core::mcp_connection_manager", "codex_otel.log_only",
                                  "codex_core::config", "reqwest::connect", "codex_core::stream_events_utils",
                                  "codex_api::sse::responses", "session_task.turn", "codex_core::session::turn"};

const char* const activeTargets[] = {"session_task.turn", "codex_core::session::turn", "codex_api::sse::responses",
                                     "codex_api::endpoint::responses_websocket",
                                     "codex_app_server::request_processors::thread_lifecycle"};

} // namespace

void writeCodexHome(HomeWriteContext& context) {
    const HomeRecipe& recipe = context.recipe;
    Random& random = context.random;
    const Date now = context.now;
    const auto codexHome = context.root / ".codex";

    std::size_t projectCount = std::max<std::size_t>(2, recipe.codexThreads / 200);
    std::vector<std::string> cwds;
    for (std::size_t p = 0; p < projectCount; ++p) cwds.push_back(projectWorkingDirectory(context.root, "codex", p, random));

    std::size_t count = std::max<std::size_t>(1, recipe.codexThreads);
    std::size_t active = std::min(count, recipe.codexAppProcesses + 6);
    std::size_t recent = std::min(count, active + count / 50);
    static const Ending activeEndings[] = {Ending::working, Ending::waitingForInput, Ending::thinking,
                                           Ending::escalation, Ending::done};
    std::vector<Thread> threads(count);
    for (std::size_t i = 0; i < count; ++i) {
        Thread& t = threads[i];
        t.id = threadId(random);
        t.cwd = cwds[random.chance(0.5) ? random.between(0, std::min<std::size_t>(projectCount, 6) - 1)
                                        : random.between(0, projectCount - 1)];
        t.firstMessage = writing::sentence(random, random.between(8, 30));
        t.title = random.chance(0.6) ? writing::sentence(random, random.between(3, 7)) : t.firstMessage;
        if (i < active) {
            t.updatedAt = now - double(random.between(1, 25));
            t.active = true;
            t.ending = activeEndings[i % std::size(activeEndings)];
        } else if (i < recent) {
            t.updatedAt = now - double(random.between(120, uint64_t(12 * hour)));
        } else {
            t.updatedAt = now - double(random.between(uint64_t(12 * hour), uint64_t(90 * day)));
            t.archived = random.chance(0.2);
        }
        t.createdAt = t.updatedAt - double(random.between(60, uint64_t(4 * hour)));
        t.rolloutPath = rolloutPath(codexHome, t.createdAt, t.id);
        t.subagent = i > 0 && random.chance(0.1);
    }
    std::sort(threads.begin() + std::ptrdiff_t(active), threads.end(),
              [](const Thread& a, const Thread& b) { return a.updatedAt > b.updatedAt; });
    for (std::size_t i = 0; i < count; ++i) {
        if (!threads[i].subagent) continue;
        // The parent is a nearby older thread that is not itself a sub-agent.
        for (std::size_t j = i + 1; j < std::min(count, i + 40); ++j) {
            if (!threads[j].subagent) {
                threads[i].parent = threads[j].id;
                break;
            }
        }
        if (threads[i].parent.empty()) threads[i].subagent = false;
    }

    // state_5.sqlite
    {
        SQLiteWriter db(codexHome / "state_5.sqlite");
        db.exec(R"(create table threads (
    id text primary key,
    rollout_path text not null,
    created_at integer not null,
    updated_at integer not null,
    source text not null,
    model_provider text not null,
    cwd text not null,
    title text not null,
    sandbox_policy text not null,
    approval_mode text not null,
    tokens_used integer not null default 0,
    has_user_event integer not null default 0,
    archived integer not null default 0,
    archived_at integer,
    git_sha text,
    git_branch text,
    git_origin_url text,
    cli_version text not null default '',
    first_user_message text not null default '',
    agent_nickname text,
    agent_role text,
    memory_mode text not null default 'enabled',
    model text,
    reasoning_effort text,
    thread_source text,
    preview text,
    updated_at_ms integer,
    recency_at integer not null default 0,
    recency_at_ms integer not null default 0
);
create index idx_threads_created_at on threads(created_at desc, id desc);
create index idx_threads_updated_at on threads(updated_at desc, id desc);
create index idx_threads_archived on threads(archived);
create index idx_threads_source on threads(source);
create table thread_spawn_edges (
    parent_thread_id text not null,
    child_thread_id text not null primary key,
    status text not null
);
create index idx_thread_spawn_edges_parent_status on thread_spawn_edges(parent_thread_id, status);
create table _sqlx_migrations (version bigint primary key, description text not null, installed_on timestamp not null default current_timestamp, success boolean not null, checksum blob not null, execution_time bigint not null);
)");
        auto insertThread = [&](SQLiteWriter::Statement& insert, const Thread& t) {
            int64_t updatedMs = int64_t(t.updatedAt * 1000);
            insert.text(1, t.id)
                .text(2, t.rolloutPath)
                .integer(3, int64_t(t.createdAt))
                .integer(4, int64_t(t.updatedAt))
                .text(5, t.subagent ? "exec" : (random.chance(0.7) ? "cli" : "vscode"))
                .text(6, "openai")
                .text(7, t.cwd)
                .text(8, t.title)
                .text(9, "{\"type\":\"workspace-write\"}")
                .text(10, "on-request")
                .integer(11, int64_t(random.between(1000, 900000)))
                .integer(12, 1)
                .integer(13, t.archived ? 1 : 0);
            if (t.archived) insert.integer(14, int64_t(t.updatedAt) + 60); else insert.null(14);
            insert.text(15, random.hex(40))
                .text(16, "main")
                .text(17, "git@github.com:example/app.git")
                .text(18, "0.63.0")
                .text(19, t.firstMessage);
            if (t.subagent) insert.text(20, "Euclid").text(21, "explorer"); else insert.null(20).null(21);
            insert.text(22, "gpt-5.1-codex")
                .text(23, random.chance(0.5) ? "medium" : "high")
                .text(24, t.subagent ? "subagent" : "user")
                .text(25, writing::sentence(random, 10))
                .integer(26, updatedMs)
                .integer(27, t.active ? int64_t(t.updatedAt) : 0)
                .integer(28, t.active ? updatedMs : 0)
                .run();
        };
        const std::string insertSQL =
            "insert into threads (id, rollout_path, created_at, updated_at, source, model_provider, cwd, title, "
            "sandbox_policy, approval_mode, tokens_used, has_user_event, archived, archived_at, git_sha, git_branch, "
            "git_origin_url, cli_version, first_user_message, agent_nickname, agent_role, model, reasoning_effort, "
            "thread_source, preview, updated_at_ms, recency_at, recency_at_ms) values "
            "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, "
            "?23, ?24, ?25, ?26, ?27, ?28)";
        const std::string edgeSQL = "insert into thread_spawn_edges (parent_thread_id, child_thread_id, status) values (?1, ?2, ?3)";
        db.exec("begin");
        {
            auto insert = db.prepare(insertSQL);
            auto edge = db.prepare(edgeSQL);
            for (std::size_t i = count; i-- > active;) {
                insertThread(insert, threads[i]);
                if (threads[i].subagent) edge.text(1, threads[i].parent).text(2, threads[i].id).text(3, "closed").run();
            }
        }
        db.exec("commit");
        // The active threads are the newest writes: they stay in the write-ahead log.
        db.keepInWriteAheadLog();
        db.exec("begin");
        {
            auto insert = db.prepare(insertSQL);
            auto edge = db.prepare(edgeSQL);
            for (std::size_t i = active; i-- > 0;) {
                insertThread(insert, threads[i]);
                if (threads[i].subagent) edge.text(1, threads[i].parent).text(2, threads[i].id).text(3, "open").run();
            }
        }
        db.exec("commit");
    }

    // logs_2.sqlite: old rows spread over a week, then the last seconds' turn activity of the active threads.
    {
        SQLiteWriter db(codexHome / "logs_2.sqlite");
        db.exec(R"(create table logs (
    id integer primary key autoincrement,
    ts integer not null,
    ts_nanos integer not null,
    level text not null,
    target text not null,
    feedback_log_body text,
    module_path text,
    file text,
    line integer,
    thread_id text,
    process_uuid text,
    estimated_bytes integer not null default 0
);
create index idx_logs_ts on logs(ts desc, ts_nanos desc, id desc);
create index idx_logs_thread_id on logs(thread_id);
)");
        const std::string insertSQL =
            "insert into logs (ts, ts_nanos, level, target, feedback_log_body, module_path, file, line, thread_id, "
            "process_uuid, estimated_bytes) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
        std::string process = random.uuid();
        std::size_t recentRows = std::min<std::size_t>(recipe.codexLogRows, active * 40 + 200);
        std::size_t oldRows = recipe.codexLogRows - recentRows;
        std::size_t threadSpan = std::min<std::size_t>(count, 2000);
        auto body = [&](const char* target) {
            std::string text = std::string(target) + ": ";
            if (random.chance(0.3)) text += "session_loop{thread_id=" + threads[random.between(0, threadSpan - 1)].id + "}: ";
            text += writing::sentence(random, random.between(6, 18));
            return text;
        };
        auto insertRow = [&](SQLiteWriter::Statement& insert, Date at, const char* target, const std::string& thread) {
            insert.integer(1, int64_t(at))
                .integer(2, int64_t((at - std::floor(at)) * 1e9))
                .text(3, random.chance(0.8) ? "INFO" : "DEBUG")
                .text(4, target)
                .text(5, body(target))
                .text(6, target)
                .text(7, "core/src/codex.rs")
                .integer(8, int64_t(random.between(10, 4000)));
            if (thread.empty()) insert.null(9); else insert.text(9, thread);
            insert.text(10, process).integer(11, int64_t(random.between(100, 600))).run();
        };
        db.exec("begin");
        {
            auto insert = db.prepare(insertSQL);
            Date start = now - 7 * day;
            double step = oldRows ? (7 * day - 60) / double(oldRows) : 0;
            for (std::size_t k = 0; k < oldRows; ++k) {
                const char* target = logTargets[random.between(0, std::size(logTargets) - 1)];
                std::string thread = random.chance(0.9) ? threads[random.between(active, std::max(active, threadSpan - 1))].id : "";
                insertRow(insert, start + double(k) * step, target, thread);
            }
        }
        db.exec("commit");
        db.keepInWriteAheadLog();
        db.exec("begin");
        {
            auto insert = db.prepare(insertSQL);
            for (std::size_t k = 0; k < recentRows; ++k) {
                Date at = now - 18 + 17.0 * double(k) / double(std::max<std::size_t>(1, recentRows));
                bool turn = active > 0 && k % 5 != 0;
                if (turn) {
                    const Thread& t = threads[k % active];
                    if (t.ending == Ending::done) continue;
                    insertRow(insert, at, activeTargets[random.between(0, std::size(activeTargets) - 1)], t.id);
                } else {
                    insertRow(insert, at, "hyper_util::client::legacy::pool", "");
                }
            }
        }
        db.exec("commit");
    }

    // Rollout files of the newest threads (older threads' files were cleaned up).
    for (std::size_t i = 0; i < count && i < recipe.codexRollouts; ++i) {
        const Thread& t = threads[i];
        double pick = random.unit();
        std::size_t bytes = pick < 0.7 ? random.between(8 * 1024, 60 * 1024)
                          : pick < 0.97 ? random.between(60 * 1024, 300 * 1024)
                                        : random.between(300 * 1024, 2 * 1024 * 1024);
        writing::writeFile(t.rolloutPath, rolloutText(random, t, bytes), t.updatedAt, context.counter);
    }

    // session_index.jsonl names a share of the threads, oldest first as Codex appends it.
    {
        std::string index;
        for (std::size_t i = count; i-- > 0;) {
            if (i % 4 != 0) continue;
            const Thread& t = threads[i];
            index += "{\"id\":\"" + t.id + "\",\"thread_name\":" + jsonString(writing::sentence(random, 4)) +
                     ",\"updated_at\":\"" + writing::isoTimestamp(t.updatedAt) + "\"}\n";
        }
        writing::writeFile(codexHome / "session_index.jsonl", index, now - 30, context.counter);
    }

    // The app-server processes of the active threads.
    for (std::size_t i = 0; i < recipe.codexAppProcesses && i < active; ++i) {
        LiveProcessPlan plan;
        plan.kind = "codex-app";
        plan.sessionId = threads[i].id;
        plan.cwd = threads[i].cwd;
        plan.argv = {(codexHome / "plugins" / "codex-app-server").string(), "app-server", "--conversation", threads[i].id,
                     "--rollout", threads[i].rolloutPath};
        context.processes.push_back(std::move(plan));
    }
    writing::writeFile(codexHome / "config.toml", "model = \"gpt-5.1-codex\"\nmodel_reasoning_effort = \"medium\"\n",
                       now - 10 * day, context.counter);
}

} // namespace brindleaf::bench
