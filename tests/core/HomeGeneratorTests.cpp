// The synthetic agent homes the benchmarks run on: the files must be in the
// agents' formats (or the benchmarks measure error paths), and the live
// processes must look, in the process table, like what the providers look for.
#include "bench/generator/HomeGenerator.hpp"
#include "bench/generator/LiveProcessSet.hpp"
#include "core/ProcessResourceSampler.hpp"
#include "core/SQLiteReader.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::bench;
using brindleaf::testing::TempDir;
using brindleaf::testing::readFile;

namespace {

constexpr Date generatedAt = 1796000000.0;

std::vector<std::filesystem::path> filesEndingWith(const std::filesystem::path& root, std::string_view ending) {
    std::vector<std::filesystem::path> out;
    if (!std::filesystem::exists(root)) return out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() >= ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
            out.push_back(entry.path());
        }
    }
    return out;
}

std::vector<nlohmann::json> jsonLines(const std::filesystem::path& path) {
    std::vector<nlohmann::json> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        records.push_back(nlohmann::json::parse(line));  // throws on a malformed line
    }
    return records;
}

std::string scalar(const SQLiteReader& reader, const std::string& sql, const std::string& column) {
    auto rows = reader.query(sql);
    return rows.empty() ? "" : rows.front().at(column);
}

std::string procText(int pid, const char* file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isRunning(int pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

} // namespace

TEST(HomeGenerator, SmallHomeHoldsEveryAgentsFilesInTheirFormats) {
    TempDir dir;
    const HomeRecipe recipe = HomeRecipe::forSize(HomeSize::small);
    GeneratedHome home = HomeGenerator(recipe).write(dir.path(), generatedAt);

    // Claude Code: every transcript line is a JSON object, sub-agent transcripts included,
    // and a transcript lies in the folder named by the project key of its working directory.
    auto transcripts = filesEndingWith(home.claudeHome() / "projects", ".jsonl");
    EXPECT_EQ(transcripts.size(), recipe.claudeTranscripts);
    std::size_t subagents = 0;
    for (const auto& path : transcripts) {
        auto records = jsonLines(path);
        ASSERT_FALSE(records.empty()) << path;
        const bool isSubagent = path.string().find("/subagents/agent-") != std::string::npos;
        subagents += isSubagent;
        const nlohmann::json* first = nullptr;
        for (const auto& record : records) {
            if (record.contains("cwd")) {
                first = &record;
                break;
            }
        }
        ASSERT_NE(first, nullptr) << path;
        EXPECT_EQ((*first)["isSidechain"].get<bool>(), isSubagent) << path;
        const std::string projectFolder =
            (isSubagent ? path.parent_path().parent_path().parent_path() : path.parent_path()).filename().string();
        EXPECT_EQ(projectFolder, claudeProjectKey((*first)["cwd"].get<std::string>())) << path;
        if (isSubagent) {
            auto meta = path.string();
            meta.replace(meta.size() - 6, 6, ".meta.json");
            EXPECT_FALSE(nlohmann::json::parse(readFile(meta))["toolUseId"].get<std::string>().empty());
        }
    }
    EXPECT_EQ(subagents, recipe.claudeTranscripts / 8);

    // Codex: both databases in write-ahead-log mode with rows still in the "-wal" file,
    // and the tables, columns and index the provider's statements use.
    const std::string state = (home.codexHome() / "state_5.sqlite").string();
    const std::string logs = (home.codexHome() / "logs_2.sqlite").string();
    for (const auto& database : {state, logs, (home.hermesHome() / "state.db").string()}) {
        EXPECT_EQ(scalar(SQLiteReader(database), "pragma journal_mode", "journal_mode"), "wal") << database;
        EXPECT_GT(std::filesystem::file_size(database + "-wal"), 0u) << database;
    }
    SQLiteReader stateReader(state);
    for (const char* column : {"id", "title", "first_user_message", "preview", "cwd", "rollout_path", "updated_at",
                               "updated_at_ms", "recency_at", "recency_at_ms", "agent_nickname", "agent_role",
                               "thread_source", "model", "reasoning_effort", "archived"}) {
        EXPECT_TRUE(stateReader.columnNames("threads").count(column)) << column;
    }
    EXPECT_EQ(scalar(stateReader, "select count(*) as n from threads", "n"), std::to_string(recipe.codexThreads));
    EXPECT_NE(scalar(stateReader, "select count(*) as n from thread_spawn_edges where status = 'open'", "n"), "");
    SQLiteReader logReader(logs);
    EXPECT_TRUE(logReader.indexNames("logs").count("idx_logs_ts"));
    // The newest log rows are turn activity within the runtime window of the generation time.
    EXPECT_NE(scalar(logReader,
                     "select count(*) as n from logs where ts >= " + std::to_string(int64_t(generatedAt) - 20) +
                         " and thread_id is not null and target in ('session_task.turn', "
                         "'codex_core::session::turn', 'codex_api::sse::responses', "
                         "'codex_api::endpoint::responses_websocket', "
                         "'codex_app_server::request_processors::thread_lifecycle')",
                     "n"),
              "0");
    for (const auto& rollout : filesEndingWith(home.codexHome() / "sessions", ".jsonl")) {
        auto records = jsonLines(rollout);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.front()["type"], "session_meta");
        for (const auto& record : records) EXPECT_TRUE(record["payload"].is_object()) << rollout;
    }
    EXPECT_EQ(filesEndingWith(home.codexHome() / "sessions", ".jsonl").size(), recipe.codexRollouts);
    for (const auto& line : jsonLines(home.codexHome() / "session_index.jsonl")) {
        EXPECT_TRUE(line["id"].is_string());
        EXPECT_TRUE(line["thread_name"].is_string());
    }
    EXPECT_TRUE(nlohmann::json::parse(readFile(home.codexHome() / "process_manager" / "chat_processes.json")).is_array());

    // Hermes: the session store, the small state files and an agent log of the planned size
    // whose lines carry the time stamp and the bracketed session id the log reader expects.
    SQLiteReader hermes((home.hermesHome() / "state.db").string());
    EXPECT_EQ(scalar(hermes, "select count(*) as n from sessions", "n"), std::to_string(recipe.hermesSessions));
    EXPECT_EQ(scalar(hermes, "select count(*) as n from sessions s left join messages m on m.session_id = s.id "
                             "where m.id is null", "n"),
              "0");
    EXPECT_EQ(nlohmann::json::parse(readFile(home.hermesHome() / "gateway_state.json"))["gateway_state"], "running");
    EXPECT_TRUE(nlohmann::json::parse(readFile(home.hermesHome() / "processes.json")).is_array());
    const std::string log = readFile(home.hermesHome() / "logs" / "agent.log");
    EXPECT_GE(log.size(), recipe.hermesLogBytes);
    std::size_t start = log.rfind('\n', log.size() - 2) + 1;
    std::string last = log.substr(start);
    EXPECT_EQ(last[4], '-');
    EXPECT_EQ(last[19], ',');
    EXPECT_EQ(last.substr(last.find('[') + 1, 2), "20");
}

TEST(HomeGenerator, SameSeedAndTimeGiveTheSameHomeAndTheManifestRoundTrips) {
    TempDir first;
    TempDir second;
    GeneratedHome a = HomeGenerator(HomeRecipe::forSize(HomeSize::small), 7).write(first.path(), generatedAt);
    GeneratedHome b = HomeGenerator(HomeRecipe::forSize(HomeSize::small), 7).write(second.path(), generatedAt);
    EXPECT_EQ(readFile(a.hermesHome() / "logs" / "agent.log"), readFile(b.hermesHome() / "logs" / "agent.log"));
    EXPECT_EQ(readFile(a.codexHome() / "session_index.jsonl"), readFile(b.codexHome() / "session_index.jsonl"));
    EXPECT_EQ(a.bytesWritten, b.bytesWritten);

    auto loaded = GeneratedHome::loadManifest(first.path());
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->generatedAt, generatedAt);
    ASSERT_EQ(loaded->processes.size(), a.processes.size());
    for (std::size_t i = 0; i < a.processes.size(); ++i) {
        EXPECT_EQ(loaded->processes[i].argv, a.processes[i].argv);
        EXPECT_EQ(loaded->processes[i].cwd, a.processes[i].cwd);
        EXPECT_EQ(loaded->processes[i].childArgv, a.processes[i].childArgv);
    }
    // A manifest copied into another folder describes another home: not taken.
    std::filesystem::create_directories(second.path() / "moved");
    std::filesystem::copy_file(a.manifestPath(), second.path() / "moved" / ".brindleaf-bench-home.json");
    EXPECT_FALSE(GeneratedHome::loadManifest(second.path() / "moved").has_value());
}

TEST(HomeGenerator, ClaudeProjectKeyMapsEveryNonAlphanumericCharacter) {
    EXPECT_EQ(claudeProjectKey("/Users/me/my_app.v2"), "-Users-me-my-app-v2");
    EXPECT_EQ(claudeProjectKey("/a b/\xc3\xbc"), "-a-b--");          // ü is one character
    EXPECT_EQ(claudeProjectKey("/x/\xf0\x9f\x98\x80"), "-x---");    // outside the basic plane: two
    EXPECT_EQ(claudeProjectKey(""), "");
}

TEST(LiveProcessSet, ProcessesShowThePlannedCommandsAndTheFilesNameThem) {
    TempDir dir;
    HomeRecipe recipe = HomeRecipe::forSize(HomeSize::small);
    recipe.claudeEngines = 4;  // the fourth hot session runs a background shell task
    recipe.claudeTranscripts = 16;
    GeneratedHome home = HomeGenerator(recipe).write(dir.path(), currentDate());

    std::vector<int> pids;
    {
        LiveProcessSet processes(home);
        pids = processes.pids();
        ASSERT_EQ(pids.size(), home.processes.size());
        std::map<std::string, int> byKind;
        bool sawChild = false;
        for (std::size_t i = 0; i < pids.size(); ++i) {
            const LiveProcessPlan& plan = home.processes[i];
            ASSERT_GT(pids[i], 0);
            ++byKind[plan.kind];
            std::string expected;
            for (const auto& arg : plan.argv) expected += arg + '\0';
            EXPECT_EQ(procText(pids[i], "cmdline"), expected) << plan.kind;
            if (!plan.cwd.empty()) {
                EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pids[i]) + "/cwd").string(), plan.cwd);
            }
            if (plan.kind == "claude-engine") {
                auto entry = nlohmann::json::parse(readFile(home.claudeHome() / "sessions" / (std::to_string(pids[i]) + ".json")));
                EXPECT_EQ(entry["pid"], pids[i]);
                EXPECT_EQ(entry["sessionId"], plan.sessionId);
            }
            if (!plan.childArgv.empty()) {
                // The shell task runs below its engine and its command names the shell snapshot.
                std::string children = procText(pids[i], ("task/" + std::to_string(pids[i]) + "/children").c_str());
                ASSERT_FALSE(children.empty());
                int child = std::stoi(children);
                EXPECT_NE(procText(child, "cmdline").find("shell-snapshots"), std::string::npos);
                sawChild = true;
            }
        }
        EXPECT_TRUE(sawChild);
        EXPECT_EQ(byKind["claude-engine"], 4);

        // What the providers get from the process sampler: the arguments joined by
        // spaces, the working directory, and the shell task's parent.
        std::map<int64_t, ProcessResourceSample> sampled;
        for (auto& sample : ProcessResourceSampler::sampleAll()) sampled[sample.pid] = sample;
        for (std::size_t i = 0; i < pids.size(); ++i) {
            const LiveProcessPlan& plan = home.processes[i];
            ASSERT_TRUE(sampled.count(pids[i])) << plan.kind;
            std::string joined;
            for (const auto& arg : plan.argv) {
                if (!joined.empty()) joined += ' ';
                joined += arg;
            }
            EXPECT_EQ(sampled[pids[i]].command, joined);
            if (!plan.cwd.empty()) {
                EXPECT_EQ(sampled[pids[i]].cwd, plan.cwd);
            }
            if (!plan.childArgv.empty()) {
                bool childBelow = false;
                for (const auto& [pid, sample] : sampled) {
                    childBelow |= sample.parentPID == pids[i] && sample.command.find("shell-snapshots") != std::string::npos;
                }
                EXPECT_TRUE(childBelow);
            }
        }
        EXPECT_EQ(byKind["hermes-gateway"], 1);

        auto managed = nlohmann::json::parse(readFile(home.codexHome() / "process_manager" / "chat_processes.json"));
        auto gateway = nlohmann::json::parse(readFile(home.hermesHome() / "gateway_state.json"));
        auto children = nlohmann::json::parse(readFile(home.hermesHome() / "processes.json"));
        for (std::size_t i = 0; i < pids.size(); ++i) {
            const LiveProcessPlan& plan = home.processes[i];
            if (plan.kind == "codex-app") {
                bool listed = false;
                for (const auto& item : managed) listed |= item["osPid"] == pids[i] && item["conversationId"] == plan.sessionId;
                EXPECT_TRUE(listed) << plan.sessionId;
            } else if (plan.kind == "hermes-child") {
                bool listed = false;
                for (const auto& item : children) listed |= item["pid"] == pids[i] && item["session_key"] == plan.sessionId;
                EXPECT_TRUE(listed) << plan.sessionId;
            } else if (plan.kind == "hermes-gateway") {
                EXPECT_EQ(gateway["pid"], pids[i]);
            }
        }
    }
    // Gone with the set: no process left, no registry file naming them.
    for (std::size_t i = 0; i < pids.size(); ++i) {
        EXPECT_FALSE(isRunning(pids[i]));
        EXPECT_FALSE(std::filesystem::exists(home.claudeHome() / "sessions" / (std::to_string(pids[i]) + ".json")));
    }
    EXPECT_NE(nlohmann::json::parse(readFile(home.hermesHome() / "gateway_state.json"))["pid"], pids.back());
}
