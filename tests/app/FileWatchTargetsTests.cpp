#include "app/FileWatchTargets.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::testing;

TEST(FileWatchTargets, CodexPathsFromTheHomesAndTheDatabaseFolder) {
    CodexRuntimeWatchConfiguration plain({}, "/h");
    auto rootPaths = FileWatchTargets::codexAgentRootPaths(plain);
    EXPECT_EQ(rootPaths,
              (std::vector<std::string>{"/h/.codex/logs", "/h/.codex/process_manager/chat_processes.json",
                                        "/h/.codex/rollouts", "/h/.codex/session_index.jsonl", "/h/.codex/sessions",
                                        "/h/.codex/sqlite/state_5.sqlite", "/h/.codex/sqlite/state_5.sqlite-shm",
                                        "/h/.codex/sqlite/state_5.sqlite-wal", "/h/.codex/state_5.sqlite",
                                        "/h/.codex/state_5.sqlite-shm", "/h/.codex/state_5.sqlite-wal"}));

    CodexRuntimeWatchConfiguration moved({{"CODEX_HOME", "/c"}, {"CODEX_SQLITE_HOME", "/db"}}, "/h");
    auto logs = FileWatchTargets::codexDatabasePaths(moved, "logs_2.sqlite");
    ASSERT_EQ(logs.size(), 15u);
    EXPECT_EQ(logs[0], "/db/logs_2.sqlite");
    EXPECT_EQ(logs[3], "/c/sqlite/logs_2.sqlite");
    EXPECT_EQ(logs[14], "/h/.codex/logs_2.sqlite-shm");
    EXPECT_EQ(FileWatchTargets::codexRuntimeLogPaths(moved).size(), 15u);
}

TEST(FileWatchTargets, RecentTranscriptsAreTheNewestJsonlFilesOfTheLastHalfHour) {
    TempDir home;
    const double now = 1.8e9;
    auto projects = (home / "projects").string();
    auto fresh = home.write("projects/a/fresh.jsonl", "{}\n");
    auto older = home.write("projects/b/older.jsonl", "{}\n");
    auto stale = home.write("projects/b/stale.jsonl", "{}\n");
    auto notJsonl = home.write("projects/a/notes.json", "{}\n");
    auto hidden = home.write("projects/a/.hidden.jsonl", "{}\n");
    auto deep = home.write("projects/a/sub/deep.jsonl", "{}\n");
    home.write("projects/.hidden-project/x.jsonl", "{}\n");
    setFileTime(fresh, now - 10);
    setFileTime(older, now - 1800);
    setFileTime(stale, now - 31 * 60);
    for (const auto& path : {notJsonl, hidden, deep}) setFileTime(path, now);

    EXPECT_EQ(FileWatchTargets::recentClaudeTranscriptFiles(projects, now),
              (std::vector<std::string>{fresh.string(), older.string()}));
    auto folders = FileWatchTargets::claudeProjectFolders(projects);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (std::vector<std::string>{(home / "projects/a").string(), (home / "projects/b").string()}));
    EXPECT_TRUE(FileWatchTargets::recentClaudeTranscriptFiles((home / "missing").string(), now).empty());
}

TEST(FileWatchTargets, OnlyTheProjectsFolderAndNonTranscriptsBelowItAskForARebuild) {
    const std::string projects = "/h/.claude/projects";
    struct Case {
        std::string path;
        bool rebuild;
    };
    for (const auto& c : std::vector<Case>{{projects, true},
                                           {projects + "/new-project", true},
                                           {projects + "/p/abc.jsonl", false},
                                           {projects + "/p/abc/subagents", true},
                                           {"/h/projects/codex/state_5.sqlite", false},
                                           {"/h/.claude/projects-old", false},
                                           {"/h/.hermes/state.db", false}})
        EXPECT_EQ(FileWatchTargets::changeNeedsRebuild(c.path, projects), c.rebuild) << c.path;
}

TEST(FileWatchTargets, SessionActivityWatchesTheRegistryFolderAndAbsoluteRolloutPathsOnce) {
    AgentStatusSnapshot snapshot;
    EXPECT_EQ(FileWatchTargets::sessionActivityPaths(snapshot, "/h"), std::vector<std::string>{"/h/.claude/sessions"});
    for (const char* rollout : {"/r/b.jsonl", "relative/a.jsonl", "", "/r/a.jsonl", "/r/b.jsonl"})
        snapshot.activeSessions.push_back(AgentSession({.id = rollout, .rolloutPath = std::string(rollout)}));
    snapshot.activeSessions.push_back(AgentSession({.id = "none"}));
    EXPECT_EQ(FileWatchTargets::sessionActivityPaths(snapshot, "/h"),
              (std::vector<std::string>{"/h/.claude/sessions", "/r/a.jsonl", "/r/b.jsonl"}));
}

TEST(FileWatchTargets, AtMostTheSixtyNewestTranscriptsAreWatched) {
    TempDir home;
    const double now = 1.8e9;
    for (int i = 0; i < 61; ++i) {
        auto path = home.write("projects/p" + std::to_string(i % 3) + "/t" + std::to_string(i) + ".jsonl", "{}\n");
        setFileTime(path, now - 10 - i);
    }
    const auto paths = FileWatchTargets::recentClaudeTranscriptFiles((home / "projects").string(), now);
    ASSERT_EQ(paths.size(), 60u);
    EXPECT_EQ(paths.front(), (home / "projects/p0/t0.jsonl").string());
    EXPECT_EQ(paths.back(), (home / "projects/p2/t59.jsonl").string()); // t60, the oldest, is left out
}

TEST(FileWatchTargets, TheAgentFolderListNamesTheProjectsFolderAndTheHermesFiles) {
    TempDir home;
    const double now = 1.8e9;
    setFileTime(home.write(".claude/projects/p/t.jsonl", "{}\n"), now - 10);
    const std::string h = home.path().string();
    CodexRuntimeWatchConfiguration codex({}, h);
    auto expected = FileWatchTargets::codexAgentRootPaths(codex);
    for (const std::string& path :
         {h + "/.claude/projects", h + "/.hermes/gateway_state.json", h + "/.hermes/processes.json",
          h + "/.hermes/logs/agent.log", h + "/.hermes/state.db", h + "/.hermes/state.db-wal",
          h + "/.claude/projects/p", h + "/.claude/projects/p/t.jsonl"})
        expected.push_back(path);
    EXPECT_EQ(FileWatchTargets::fileChangePaths(h, codex, now), expected);
}
