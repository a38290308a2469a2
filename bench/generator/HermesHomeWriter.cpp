#include "bench/generator/AgentHomeWriters.hpp"
#include "bench/generator/SQLiteWriter.hpp"

#include <algorithm>
#include <ctime>

namespace brindleaf::bench {

using writing::jsonEscape;
using writing::jsonString;
using writing::Random;

namespace {

constexpr double hour = 3600;
constexpr double day = 86400;

enum class Ending { done, toolRunning, awaitingBackend, awaitingApproval, subagent };

struct Session {
    std::string id;
    std::string parent;
    std::string source;
    std::string title;
    std::string cwd;
    Date startedAt = 0;
    Date lastActivity = 0;
    bool ended = false;
    bool archived = false;
    bool active = false;
    Ending ending = Ending::done;
};

// Hermes names a session by its start time and a random suffix: "20261209_044001_a1b2c3".
std::string sessionId(Random& random, Date startedAt) {
    time_t seconds = static_cast<time_t>(startedAt);
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d_", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return stamp + random.hex(6);
}

std::string terminalCall(Random& random, const std::string& command) {
    std::string arguments = "{\"command\": " + jsonString(command) + ", \"timeout\": 120}";
    return "[{\"id\": \"call_" + random.hex(20) + "\", \"type\": \"function\", \"function\": {\"name\": \"terminal\", "
           "\"arguments\": " + jsonString(arguments) + "}}]";
}

} // namespace

void writeHermesHome(HomeWriteContext& context) {
    const HomeRecipe& recipe = context.recipe;
    Random& random = context.random;
    const Date now = context.now;
    const auto hermesHome = context.root / ".hermes";

    std::size_t projectCount = std::max<std::size_t>(2, recipe.hermesSessions / 50);
    std::vector<std::string> cwds;
    for (std::size_t p = 0; p < projectCount; ++p) cwds.push_back(projectWorkingDirectory(context.root, "hermes", p, random));

    std::size_t count = std::max<std::size_t>(1, recipe.hermesSessions);
    std::size_t active = std::min(count, recipe.hermesWorkers + recipe.hermesChildren + 4);
    static const Ending activeEndings[] = {Ending::toolRunning, Ending::awaitingBackend, Ending::awaitingApproval,
                                           Ending::subagent, Ending::done};
    static const char* const sources[] = {"cli", "cli", "cli", "telegram", "discord", "tui"};
    std::vector<Session> sessions(count);
    for (std::size_t i = 0; i < count; ++i) {
        Session& s = sessions[i];
        if (i < active) {
            s.lastActivity = now - double(random.between(1, 12));
            s.active = true;
            s.ending = activeEndings[i % std::size(activeEndings)];
        } else if (i < active + count / 20) {
            s.lastActivity = now - double(random.between(300, uint64_t(12 * hour)));
        } else {
            s.lastActivity = now - double(random.between(uint64_t(12 * hour), uint64_t(120 * day)));
            s.archived = random.chance(0.1);
        }
        s.startedAt = s.lastActivity - double(random.between(120, uint64_t(3 * hour)));
        s.ended = !s.active && random.chance(0.8);
        s.id = sessionId(random, s.startedAt);
        s.source = sources[random.between(0, std::size(sources) - 1)];
        s.title = writing::sentence(random, random.between(3, 7));
        s.cwd = cwds[random.between(0, projectCount - 1)];
    }
    std::sort(sessions.begin() + std::ptrdiff_t(active), sessions.end(),
              [](const Session& a, const Session& b) { return a.lastActivity > b.lastActivity; });
    // Delegated sub-sessions hang below a nearby session.
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (random.chance(0.1) || (sessions[i].active && sessions[i].ending == Ending::subagent)) {
            sessions[i].parent = sessions[i + 1].id;
            sessions[i].source = "subagent";
        }
    }

    {
        SQLiteWriter db(hermesHome / "state.db");
        db.exec(R"(create table schema_version (version integer not null);
insert into schema_version values (6);
create table sessions (
    id text primary key,
    source text not null,
    user_id text,
    model text,
    model_config text,
    system_prompt text,
    parent_session_id text,
    started_at real not null,
    ended_at real,
    end_reason text,
    message_count integer default 0,
    tool_call_count integer default 0,
    input_tokens integer default 0,
    output_tokens integer default 0,
    title text,
    cwd text,
    handoff_state text,
    handoff_platform text,
    archived integer not null default 0,
    foreign key (parent_session_id) references sessions(id)
);
create table messages (
    id integer primary key autoincrement,
    session_id text not null references sessions(id),
    role text not null,
    content text,
    tool_call_id text,
    tool_calls text,
    tool_name text,
    timestamp real not null,
    token_count integer,
    finish_reason text
);
create index idx_sessions_source on sessions(source);
create index idx_sessions_parent on sessions(parent_session_id);
create index idx_sessions_started on sessions(started_at desc);
create index idx_messages_session on messages(session_id, timestamp);
)");
        const std::string systemPrompt = "You are Hermes, a capable agent. " + writing::sentence(random, 400);
        const std::string sessionSQL =
            "insert into sessions (id, source, user_id, model, model_config, system_prompt, parent_session_id, "
            "started_at, ended_at, end_reason, message_count, tool_call_count, input_tokens, output_tokens, title, cwd, "
            "handoff_state, handoff_platform, archived) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
            "?13, ?14, ?15, ?16, ?17, ?18, ?19)";
        const std::string messageSQL =
            "insert into messages (session_id, role, content, tool_call_id, tool_calls, tool_name, timestamp, "
            "token_count, finish_reason) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
        auto writeSession = [&](SQLiteWriter::Statement& insert, SQLiteWriter::Statement& message, const Session& s) {
            std::size_t messages = std::max<std::size_t>(2, recipe.hermesMessagesPerSession / 2 +
                                                               random.between(0, recipe.hermesMessagesPerSession));
            insert.text(1, s.id).text(2, s.source).text(3, "local").text(4, "anthropic/claude-sonnet-4.5")
                .text(5, "{\"reasoning_config\": {\"effort\": \"" + std::string(random.chance(0.5) ? "medium" : "high") +
                             "\"}, \"max_tokens\": 16000}")
                .text(6, systemPrompt);
            if (s.parent.empty()) insert.null(7); else insert.text(7, s.parent);
            insert.real(8, s.startedAt);
            if (s.ended) insert.real(9, s.lastActivity + 5).text(10, "user_exit"); else insert.null(9).null(10);
            insert.integer(11, int64_t(messages)).integer(12, int64_t(messages / 3))
                .integer(13, int64_t(random.between(1000, 400000))).integer(14, int64_t(random.between(100, 40000)))
                .text(15, s.title).text(16, s.cwd);
            if (random.chance(0.05)) insert.text(17, "completed").text(18, "telegram"); else insert.null(17).null(18);
            insert.integer(19, s.archived ? 1 : 0).run();

            double step = (s.lastActivity - s.startedAt) / double(messages);
            Date at = s.startedAt;
            for (std::size_t m = 0; m + 1 < messages; ++m, at += step) {
                switch (m % 4) {
                case 0:
                    message.text(1, s.id).text(2, "user").text(3, writing::sentence(random, random.between(6, 30)))
                        .null(4).null(5).null(6).real(7, at).integer(8, 40).null(9).run();
                    break;
                case 1:
                    message.text(1, s.id).text(2, "assistant").text(3, "")
                        .null(4).text(5, terminalCall(random, "pytest -q tests/" + random.hex(4))).null(6).real(7, at)
                        .integer(8, 120).text(9, "tool_calls").run();
                    break;
                case 2:
                    message.text(1, s.id).text(2, "tool").text(3, writing::escapedFiller(random, random.between(100, 1500)))
                        .text(4, "call_" + random.hex(20)).null(5).text(6, "terminal").real(7, at).integer(8, 300)
                        .null(9).run();
                    break;
                default:
                    message.text(1, s.id).text(2, "assistant").text(3, writing::sentence(random, random.between(10, 50)))
                        .null(4).null(5).null(6).real(7, at).integer(8, 200).text(9, "stop").run();
                }
            }
            // The last message decides what the session looks like.
            Date last = s.lastActivity;
            switch (s.ending) {
            case Ending::done:
                message.text(1, s.id).text(2, "assistant").text(3, "Done. " + writing::sentence(random, 12))
                    .null(4).null(5).null(6).real(7, last).integer(8, 200).text(9, "stop").run();
                break;
            case Ending::toolRunning:
            case Ending::awaitingApproval:
                message.text(1, s.id).text(2, "assistant").text(3, "")
                    .null(4).text(5, terminalCall(random, "npm run build")).null(6).real(7, last).integer(8, 120)
                    .text(9, "tool_calls").run();
                break;
            case Ending::awaitingBackend:
            case Ending::subagent:
                message.text(1, s.id).text(2, "user").text(3, writing::sentence(random, 14))
                    .null(4).null(5).null(6).real(7, last).integer(8, 40).null(9).run();
                break;
            }
        };
        db.exec("begin");
        {
            auto insert = db.prepare(sessionSQL);
            auto message = db.prepare(messageSQL);
            // Parents before their sub-sessions; the active sessions come last, into the write-ahead log.
            for (std::size_t i = count; i-- > active;) writeSession(insert, message, sessions[i]);
        }
        db.exec("commit");
        db.keepInWriteAheadLog();
        db.exec("begin");
        {
            auto insert = db.prepare(sessionSQL);
            auto message = db.prepare(messageSQL);
            for (std::size_t i = active; i-- > 0;) writeSession(insert, message, sessions[i]);
        }
        db.exec("commit");
    }

    // logs/agent.log: older lines fill the file, the newest lines carry the active sessions' signals.
    {
        static const char* const noise[] = {
            "INFO agent.turn_context: conversation turn: platform=cli model=anthropic/claude-sonnet-4.5",
            "INFO agent.tool_executor: tool terminal finished in 1.42s",
            "INFO agent.conversation_loop: Turn ended: finish_reason=stop tokens=1843",
            "DEBUG agent.chat_completion_helpers: Waiting for backend response (attempt 1)",
            "INFO tools.file_tools: read_file path=src/app.py bytes=4211",
            "DEBUG httpx: HTTP Request: POST https://openrouter.ai/api/v1/chat/completions \"HTTP/1.1 200 OK\"",
            "INFO agent.memory: memory flush skipped (no changes)",
            "WARNING agent.tool_executor: Tool terminal returned error: exit code 1"};
        std::string log;
        log.reserve(recipe.hermesLogBytes + 4096);
        std::vector<std::pair<Date, std::string>> signals;
        for (std::size_t i = 0; i < active; ++i) {
            const Session& s = sessions[i];
            Date at = s.lastActivity;
            std::string prefix = writing::localLogTimestamp(at) + " ";
            std::string tail;
            switch (s.ending) {
            case Ending::done:
                tail += prefix + "INFO [" + s.id + "] agent.conversation_loop: Turn ended: finish_reason=stop tokens=912\n";
                break;
            case Ending::toolRunning:
                tail += prefix + "INFO [" + s.id + "] agent.tool_executor: tool terminal started: npm run build\n";
                break;
            case Ending::awaitingBackend:
                tail += prefix + "DEBUG [" + s.id + "] agent.chat_completion_helpers: Waiting for backend response (attempt 1)\n";
                break;
            case Ending::awaitingApproval:
                tail += prefix + "WARNING [" + s.id +
                        "] agent.tool_executor: Tool terminal returned error: {\"approval_pending\": true, \"command\": \"rm -rf build\"}\n";
                break;
            case Ending::subagent:
                tail += prefix + "INFO [" + s.id + "] tools.async_delegation: Dispatched async delegation to child session\n";
                break;
            }
            signals.emplace_back(at, std::move(tail));
        }
        std::stable_sort(signals.begin(), signals.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string tail;
        for (const auto& signal : signals) tail += signal.second;
        std::size_t fillBytes = recipe.hermesLogBytes > tail.size() ? recipe.hermesLogBytes - tail.size() : 0;
        std::size_t lines = std::max<std::size_t>(1, fillBytes / 130);
        Date start = now - 2 * day;
        double step = (2 * day - 60) / double(lines);
        for (std::size_t k = 0; log.size() < fillBytes; ++k) {
            const Session& s = sessions[std::min(count - 1, active + random.between(0, std::min<std::size_t>(count, 400)))];
            log += writing::localLogTimestamp(start + double(k) * step) + " ";
            const char* text = noise[random.between(0, std::size(noise) - 1)];
            std::string_view level(text, std::string_view(text).find(' '));
            log += std::string(level) + " [" + s.id + "]" + (text + level.size()) + "\n";
        }
        log += tail;
        writing::writeFile(hermesHome / "logs" / "agent.log", log, now - 1, context.counter);
        writing::writeFile(hermesHome / "logs" / "errors.log", "", now - day, context.counter);
    }

    // Workers of the terminal front end and children listed in processes.json, for the active sessions.
    std::size_t next = 0;
    for (std::size_t w = 0; w < recipe.hermesWorkers && next < active; ++w, ++next) {
        LiveProcessPlan plan;
        plan.kind = "hermes-worker";
        plan.sessionId = sessions[next].id;
        plan.cwd = sessions[next].cwd;
        plan.argv = {"python3", "-m", "tui_gateway.slash_worker", "--session-key", sessions[next].id, "--profile", "default"};
        context.processes.push_back(std::move(plan));
    }
    for (std::size_t c = 0; c < recipe.hermesChildren && next < active; ++c, ++next) {
        LiveProcessPlan plan;
        plan.kind = "hermes-child";
        plan.sessionId = sessions[next].id;
        plan.cwd = sessions[next].cwd;
        plan.argv = {"/bin/bash", "-c", "pytest -q tests/ --maxfail=1"};
        context.processes.push_back(std::move(plan));
    }
    {
        LiveProcessPlan plan;
        plan.kind = "hermes-gateway";
        plan.argv = {"python3", "-m", "hermes.gateway", "run", "--platforms", "telegram,discord"};
        context.processes.push_back(std::move(plan));
    }
    writing::writeFile(hermesHome / "config.yaml", "model: anthropic/claude-sonnet-4.5\nterminal:\n  backend: local\n",
                       now - 30 * day, context.counter);
}

} // namespace brindleaf::bench
