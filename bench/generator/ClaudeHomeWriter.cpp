#include "bench/generator/AgentHomeWriters.hpp"

#include <algorithm>

namespace brindleaf::bench {

using writing::jsonEscape;
using writing::jsonString;
using writing::Random;

namespace {

constexpr double hour = 3600;
constexpr double day = 86400;
constexpr std::size_t bigTranscriptBytes = 8u << 20;

enum class Ending { done, working, thinking, waiting, background, subagentPending, interrupted };

// Appends Claude Code transcript records (one JSON object per line).
class TranscriptBuilder {
public:
    TranscriptBuilder(Random& random, std::string sessionId, std::string cwd, bool sidechain, std::string agentId)
        : random_(random), sessionId_(std::move(sessionId)), cwd_(std::move(cwd)), sidechain_(sidechain),
          agentId_(std::move(agentId)) {}

    std::string& text() { return out_; }

    void userText(const std::string& prompt, Date at) {
        record("user", "{\"role\":\"user\",\"content\":" + jsonString(prompt) + "}", at, "");
    }

    void toolUse(const std::string& id, const std::string& name, const std::string& inputJson, Date at) {
        record("assistant",
               assistantMessage("[{\"type\":\"text\",\"text\":" + jsonString(writing::sentence(random_, 9)) +
                                    "},{\"type\":\"tool_use\",\"id\":\"" + id + "\",\"name\":\"" + name +
                                    "\",\"input\":" + inputJson + "}]",
                                "tool_use"),
               at, "");
    }

    void toolResult(const std::string& id, const std::string& escapedOutput, Date at) {
        record("user",
               "{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"" + id +
                   "\",\"type\":\"tool_result\",\"content\":\"" + escapedOutput + "\",\"is_error\":false}]}",
               at, ",\"toolUseResult\":{\"stdout\":\"" + writing::cutEscaped(escapedOutput, 120) +
                       "\",\"stderr\":\"\",\"interrupted\":false,\"isImage\":false}");
    }

    void assistantText(const std::string& text, Date at) {
        record("assistant", assistantMessage("[{\"type\":\"text\",\"text\":" + jsonString(text) + "}]", "end_turn"), at, "");
    }

    void interrupt(Date at) {
        record("user", "{\"role\":\"user\",\"content\":[{\"type\":\"text\",\"text\":\"[Request interrupted by user]\"}]}", at, "");
    }

    void aiTitle(const std::string& title) {
        out_ += "{\"type\":\"ai-title\",\"aiTitle\":" + jsonString(title) + ",\"sessionId\":\"" + sessionId_ + "\"}\n";
    }

private:
    std::string assistantMessage(const std::string& content, const char* stopReason) {
        return "{\"id\":\"msg_01" + random_.hex(22) +
               "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\"claude-sonnet-4-5-20250929\",\"content\":" +
               content + ",\"stop_reason\":\"" + stopReason +
               "\",\"stop_sequence\":null,\"usage\":{\"input_tokens\":" + std::to_string(random_.between(3, 40)) +
               ",\"cache_creation_input_tokens\":" + std::to_string(random_.between(0, 4000)) +
               ",\"cache_read_input_tokens\":" + std::to_string(random_.between(10000, 90000)) +
               ",\"output_tokens\":" + std::to_string(random_.between(20, 900)) + "}}";
    }

    void record(const char* type, const std::string& message, Date at, const std::string& extra) {
        std::string uuid = random_.uuid();
        out_ += "{\"parentUuid\":";
        out_ += lastUuid_.empty() ? "null" : "\"" + lastUuid_ + "\"";
        out_ += ",\"isSidechain\":";
        out_ += sidechain_ ? "true" : "false";
        out_ += ",\"userType\":\"external\",\"cwd\":" + jsonString(cwd_) + ",\"sessionId\":\"" + sessionId_ +
                "\",\"version\":\"2.0.14\",\"gitBranch\":\"main\"";
        if (!agentId_.empty()) out_ += ",\"agentId\":\"" + agentId_ + "\"";
        out_ += ",\"type\":\"";
        out_ += type;
        out_ += "\",\"message\":" + message + ",\"uuid\":\"" + uuid + "\",\"timestamp\":\"" + writing::isoTimestamp(at) + "\"";
        out_ += extra;
        out_ += "}\n";
        lastUuid_ = uuid;
    }

    Random& random_;
    std::string sessionId_;
    std::string cwd_;
    bool sidechain_;
    std::string agentId_;
    std::string lastUuid_;
    std::string out_;
};

std::string toolId(Random& random) { return "toolu_01" + random.hex(22); }

// Whole turns until the transcript reaches `targetBytes`; returns the time of the last record.
Date writeBody(TranscriptBuilder& builder, Random& random, std::size_t targetBytes, Date start, Date end) {
    static const char* const tools[] = {"Bash", "Read", "Edit", "Grep", "Glob", "TodoWrite"};
    // Estimated records, to spread the time stamps between start and end.
    double records = std::max<double>(4, double(targetBytes) / 1400.0);
    double step = std::max(0.05, (end - start) / records);
    Date at = start;
    while (builder.text().size() < targetBytes) {
        builder.userText(writing::sentence(random, random.between(6, 24)), at);
        at += step;
        std::size_t calls = random.between(1, 6);
        for (std::size_t c = 0; c < calls && builder.text().size() < targetBytes; ++c) {
            std::string id = toolId(random);
            const char* name = tools[random.between(0, std::size(tools) - 1)];
            builder.toolUse(id, name,
                            std::string("{\"command\":\"npm test -- ") + random.hex(6) +
                                "\",\"description\":\"Run the tests\"}",
                            at);
            at += step;
            std::size_t output = random.chance(0.1) ? random.between(4000, 30000) : random.between(80, 2400);
            builder.toolResult(id, writing::escapedFiller(random, output), at);
            at += step;
        }
        builder.assistantText(writing::sentence(random, random.between(10, 40)), at);
        at += step;
    }
    return at;
}

void writeEnding(TranscriptBuilder& builder, Random& random, Ending ending, Date last) {
    switch (ending) {
    case Ending::done:
        builder.assistantText("All done: " + writing::sentence(random, 12), last);
        break;
    case Ending::working: {
        builder.userText(writing::sentence(random, 14), last - 6);
        std::string id = toolId(random);
        builder.toolUse(id, "Bash", "{\"command\":\"cargo build --release\",\"description\":\"Build the project\"}", last);
        break;
    }
    case Ending::thinking:
        builder.userText(writing::sentence(random, 16), last);
        break;
    case Ending::waiting: {
        builder.userText(writing::sentence(random, 10), last - 8);
        builder.toolUse(toolId(random), "AskUserQuestion",
                        "{\"questions\":[{\"question\":\"Which database should the migration target?\",\"header\":\"Database\","
                        "\"options\":[{\"label\":\"Postgres\",\"description\":\"The production store\"},"
                        "{\"label\":\"SQLite\",\"description\":\"The local cache\"}],\"multiSelect\":false}]}",
                        last);
        break;
    }
    case Ending::background: {
        builder.userText("Start the dev server and keep it running", last - 20);
        std::string id = toolId(random);
        builder.toolUse(id, "Bash",
                        "{\"command\":\"npm run dev\",\"description\":\"Start the dev server\",\"run_in_background\":true}",
                        last - 15);
        builder.toolResult(id, "Command running in background with ID: bash_" + random.hex(6), last - 14);
        builder.assistantText("The dev server is starting in the background.", last);
        break;
    }
    case Ending::subagentPending:
        break;  // written by the caller, which knows the sub-agent's tool-use id
    case Ending::interrupted:
        builder.userText(writing::sentence(random, 8), last - 2);
        builder.interrupt(last);
        break;
    }
}

struct MainSession {
    std::string sessionId;
    std::size_t project = 0;
    Date lastActivity = 0;
    std::size_t bytes = 0;
    Ending ending = Ending::done;
    std::string pendingTaskToolUse;  // for subagentPending
    std::vector<std::size_t> subagents;
};

std::size_t transcriptBytes(Random& random) {
    double pick = random.unit();
    if (pick < 0.75) return random.between(4 * 1024, 40 * 1024);
    if (pick < 0.98) return random.between(40 * 1024, 250 * 1024);
    return random.between(250 * 1024, 1024 * 1024);
}

} // namespace

void writeClaudeHome(HomeWriteContext& context) {
    const HomeRecipe& recipe = context.recipe;
    Random& random = context.random;
    const auto claudeHome = context.root / ".claude";
    const auto projectsRoot = claudeHome / "projects";
    const Date now = context.now;

    std::size_t projectCount = std::max<std::size_t>(1, recipe.claudeProjects);
    std::vector<std::string> projectCwds;
    for (std::size_t p = 0; p < projectCount; ++p) {
        projectCwds.push_back(projectWorkingDirectory(context.root, "claude", p, random));
    }

    std::size_t total = std::max<std::size_t>(1, recipe.claudeTranscripts);
    std::size_t subagentCount = total / 8;
    std::size_t mainCount = total - subagentCount;
    std::size_t hot = std::min(mainCount, recipe.claudeEngines + 4);
    std::size_t recent = std::min(mainCount, hot + std::max<std::size_t>(1, mainCount * 6 / 100));

    // Newest first: the hot sessions are seconds old, then a few hours, then up to a month.
    std::vector<MainSession> sessions(mainCount);
    static const Ending hotEndings[] = {Ending::working, Ending::waiting, Ending::thinking,
                                        Ending::background, Ending::subagentPending, Ending::done};
    for (std::size_t i = 0; i < mainCount; ++i) {
        MainSession& s = sessions[i];
        s.sessionId = random.uuid();
        // A few projects hold most sessions, as on a real machine.
        s.project = random.chance(0.5) ? random.between(0, std::min<std::size_t>(projectCount, 8) - 1)
                                       : random.between(0, projectCount - 1);
        if (i < hot) {
            s.lastActivity = now - double(random.between(2, 15)) - double(i);
            s.ending = hotEndings[i % std::size(hotEndings)];
        } else if (i < recent) {
            s.lastActivity = now - double(random.between(60, uint64_t(8 * hour) - 60));
            double pick = random.unit();
            s.ending = pick < 0.8 ? Ending::done : pick < 0.9 ? Ending::background : Ending::interrupted;
        } else {
            s.lastActivity = now - double(random.between(uint64_t(8 * hour), uint64_t(30 * day)));
            double pick = random.unit();
            s.ending = pick < 0.85 ? Ending::done : pick < 0.9 ? Ending::interrupted : pick < 0.95 ? Ending::background : Ending::waiting;
        }
        s.bytes = transcriptBytes(random);
    }
    std::sort(sessions.begin() + std::ptrdiff_t(hot), sessions.end(),
              [](const MainSession& a, const MainSession& b) { return a.lastActivity > b.lastActivity; });
    // The long transcripts: half active within the last hours (the start-up deep pass reads them), half old.
    for (std::size_t k = 0; k < recipe.claudeBigTranscripts && k < mainCount; ++k) {
        std::size_t index = (k % 2 == 0) ? std::min(mainCount - 1, hot + k / 2) : mainCount - 1 - k / 2;
        if (k % 2 == 0 && k / 2 < hot) index = k / 2;  // a few of the hot sessions are long ones
        sessions[index].bytes = bigTranscriptBytes + random.between(0, 64 * 1024);
    }

    // Sub-agent transcripts: first one per hot session waiting on a sub-agent, the rest under older sessions.
    struct Subagent {
        std::size_t parent;
        std::string agentId;
        std::string toolUseId;
        bool pending;
    };
    std::vector<Subagent> subagents;
    for (std::size_t i = 0; i < hot && subagents.size() < subagentCount; ++i) {
        if (sessions[i].ending != Ending::subagentPending) continue;
        sessions[i].pendingTaskToolUse = toolId(random);
        subagents.push_back({i, random.hex(8), sessions[i].pendingTaskToolUse, true});
        sessions[i].subagents.push_back(subagents.size() - 1);
    }
    for (std::size_t i = 0; i < hot; ++i) {
        if (sessions[i].ending == Ending::subagentPending && sessions[i].pendingTaskToolUse.empty()) {
            sessions[i].ending = Ending::working;  // no sub-agent transcript left to give it
        }
    }
    while (subagents.size() < subagentCount) {
        std::size_t parent = mainCount > hot ? random.between(hot, mainCount - 1) : random.between(0, mainCount - 1);
        subagents.push_back({parent, random.hex(8), toolId(random), false});
        sessions[parent].subagents.push_back(subagents.size() - 1);
    }

    for (std::size_t i = 0; i < mainCount; ++i) {
        MainSession& s = sessions[i];
        const std::string& cwd = projectCwds[s.project];
        const auto projectDir = projectsRoot / claudeProjectKey(cwd);
        TranscriptBuilder builder(random, s.sessionId, cwd, false, "");
        builder.text().reserve(s.bytes + 4096);
        if (random.chance(0.3)) builder.aiTitle(writing::sentence(random, 5));
        Date duration = std::min(6 * hour, 60.0 + double(s.bytes) / 200.0);
        Date bodyEnd = s.lastActivity - 30;
        writeBody(builder, random, s.bytes, bodyEnd - duration, bodyEnd);
        // Completed sub-agent calls of this session.
        for (std::size_t index : s.subagents) {
            const Subagent& agent = subagents[index];
            if (agent.pending) continue;
            builder.toolUse(agent.toolUseId, "Task",
                            "{\"description\":\"Survey the test suite\",\"subagent_type\":\"general-purpose\","
                            "\"prompt\":\"List the flaky tests and why they fail\"}",
                            bodyEnd + 1);
            builder.toolResult(agent.toolUseId, "The suite has three flaky tests.", bodyEnd + 20);
        }
        if (s.ending == Ending::subagentPending) {
            builder.userText("Ask a sub-agent to survey the failing tests", s.lastActivity - 5);
            builder.toolUse(s.pendingTaskToolUse, "Task",
                            "{\"description\":\"Survey the failing tests\",\"subagent_type\":\"general-purpose\","
                            "\"prompt\":\"Find every failing test and its cause\",\"model\":\"haiku\"}",
                            s.lastActivity);
        } else {
            writeEnding(builder, random, s.ending, s.lastActivity);
        }
        writing::writeFile(projectDir / (s.sessionId + ".jsonl"), builder.text(), s.lastActivity, context.counter);

        for (std::size_t index : s.subagents) {
            const Subagent& agent = subagents[index];
            Date agentEnd = agent.pending ? now - double(random.between(1, 6)) : bodyEnd + 19;
            TranscriptBuilder sub(random, s.sessionId, cwd, true, agent.agentId);
            sub.userText("Find every failing test and its cause", agentEnd - 120);
            writeBody(sub, random, random.between(6 * 1024, 60 * 1024), agentEnd - 110, agentEnd - 5);
            if (agent.pending) {
                sub.toolUse(toolId(random), "Grep", "{\"pattern\":\"it\\\\.only\",\"path\":\"tests\"}", agentEnd);
            } else {
                sub.assistantText("The suite has three flaky tests.", agentEnd);
            }
            const auto folder = projectDir / s.sessionId / "subagents";
            writing::writeFile(folder / ("agent-" + agent.agentId + ".jsonl"), sub.text(), agentEnd, context.counter);
            writing::writeFile(folder / ("agent-" + agent.agentId + ".meta.json"),
                               "{\"toolUseId\":\"" + agent.toolUseId + "\",\"agentType\":\"general-purpose\"}",
                               agentEnd - 120, context.counter);
        }
    }
    // Project folders carry the time of their newest entry.
    for (std::size_t i = mainCount; i-- > 0;) {
        writing::setModificationTime(projectsRoot / claudeProjectKey(projectCwds[sessions[i].project]), sessions[i].lastActivity);
    }

    // Registry files of engines that exited long ago (the running ones are written when they start).
    for (std::size_t k = 0; k < recipe.claudeStaleRegistry; ++k) {
        const MainSession& s = sessions[mainCount - 1 - (k % mainCount)];
        int pid = 3900000 + int(k);
        writing::writeFile(claudeHome / "sessions" / (std::to_string(pid) + ".json"),
                           "{\"pid\":" + std::to_string(pid) + ",\"sessionId\":\"" + s.sessionId + "\",\"cwd\":" +
                               jsonString(projectCwds[s.project]) + ",\"startedAt\":" +
                               std::to_string(int64_t((s.lastActivity - 3600) * 1000)) + "}",
                           s.lastActivity - 3600, context.counter);
    }

    // The desktop app's session files name some sessions.
    const auto desktop = context.root / ".config" / "Claude" / "claude-code-sessions" / random.uuid() / random.uuid();
    for (std::size_t i = 0; i < mainCount; i += 10) {
        const MainSession& s = sessions[i];
        std::string localId = "local_" + random.uuid();
        writing::writeFile(desktop / (localId + ".json"),
                           "{\"sessionId\":\"" + localId + "\",\"cliSessionId\":\"" + s.sessionId + "\",\"title\":" +
                               jsonString(writing::sentence(random, 4)) + ",\"cwd\":" +
                               jsonString(projectCwds[s.project]) + ",\"createdAt\":" +
                               std::to_string(int64_t((s.lastActivity - 600) * 1000)) + ",\"lastActivityAt\":" +
                               std::to_string(int64_t(s.lastActivity * 1000)) + "}",
                           s.lastActivity, context.counter);
    }

    // Engines for the hot sessions: some resumed ("--resume"), the others known by the registry only.
    for (std::size_t i = 0; i < recipe.claudeEngines && i < hot; ++i) {
        const MainSession& s = sessions[i];
        LiveProcessPlan plan;
        plan.kind = "claude-engine";
        plan.sessionId = s.sessionId;
        plan.cwd = projectCwds[s.project];
        if (i % 3 == 0) {
            plan.argv = {"claude", "--resume", s.sessionId};
        } else if (i % 3 == 1) {
            plan.argv = {"node", "/usr/lib/node_modules/@anthropic-ai/claude-code/cli.js", "--dangerously-skip-permissions"};
        } else {
            plan.argv = {"claude"};
        }
        if (s.ending == Ending::background) {
            plan.childArgv = {"/bin/bash", "-c",
                              "source " + (claudeHome / "shell-snapshots" / "snapshot-bash-1765254001.sh").string() +
                                  " && eval 'npm run dev' < /dev/null"};
        }
        context.processes.push_back(std::move(plan));
    }
}

} // namespace brindleaf::bench
