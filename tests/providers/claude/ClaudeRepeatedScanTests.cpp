// One provider scanning the same home again and again keeps what it derived
// from unchanged files; every change must still show on the next scan.
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"
#include "tests/support/ChildProcess.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
using brindleaf::testing::ChildProcess;
namespace fs = std::filesystem;

namespace {

const std::string parentID = "1a2b3c4d-0000-4000-8000-000000000001";
const std::string workerID = "1a2b3c4d-0000-4000-8000-000000000002";
const std::string lateID = "1a2b3c4d-0000-4000-8000-000000000003";
const std::string neighbourID = "1a2b3c4d-0000-4000-8000-000000000004";

std::optional<AgentSession> row(const ProviderSnapshot& snapshot, const std::string& id) {
    for (const auto& session : snapshot.activeSessions) {
        if (session.id == id) return session;
    }
    return std::nullopt;
}

} // namespace

TEST(ClaudeRepeatedScan, ChangedTranscriptsRegistryMetaFilesAndNewFoldersShowOnTheNextScan) {
    for (const double rescanInterval : {0.0, 1000.0}) {
        SCOPED_TRACE(rescanInterval);
        ClaudeHome home;
        const Date now = wholeNow();
        const std::string cwd = home.workDir("shop");
        const std::string otherCwd = home.workDir("tools");
        ChildProcess engine("/bin/sleep", {"claude", "60"}, home.workDir("elsewhere"));

        // A session waiting on two sub-agents; the first one's transcript is
        // tied to its launch by a meta file.
        Transcript parent(parentID, cwd);
        parent.prompt("review the codebase", now - 12);
        parent.toolUse("msg_1", "toolu_a", "Task", {{"description", "Explore"}, {"model", "opus"}}, now - 10);
        parent.toolUse("msg_1", "toolu_b", "Task", {{"description", "Check tests"}, {"model", "sonnet"}}, now - 10);
        home.transcript(cwd, parentID, parent, now - 10);
        const fs::path subagents = home.projectDir(cwd) / parentID / "subagents";
        Transcript side(parentID, cwd);
        side.sidechain(true).prompt("explore", now - 9);
        side.assistantBlock("msg_s", {{"type", "text"}, {"text", "more"}}, now - 8, "claude-haiku-4-5",
                            {{"effort", "low"}});
        home.write(subagents / "agent-a1.jsonl", side.text(), now - 8);
        const fs::path meta = subagents / "agent-a1.meta.json";
        home.write(meta, R"({"agentType":"Explore","toolUseId":"toolu_a"})", now - 100);

        // A second session whose turn is open.
        Transcript worker(workerID, otherCwd);
        worker.prompt("build it", now - 8);
        home.transcript(otherCwd, workerID, worker, now - 8);

        ClaudeStatusProvider provider(home.config(rescanInterval), ownProcesses);
        const SessionRuntimeProfile haiku("claude-haiku-4-5", "low", SessionRuntimeProfileSource::claudeTranscript);
        const SessionRuntimeProfile opus("opus", std::nullopt, SessionRuntimeProfileSource::claudeTaskRequest);
        const SessionRuntimeProfile sonnet("sonnet", std::nullopt, SessionRuntimeProfileSource::claudeTaskRequest);
        for (int repeat = 0; repeat < 2; ++repeat) {
            const auto snapshot = provider.snapshot(now);
            ASSERT_EQ(snapshot.activeSessions.size(), 4u);
            EXPECT_EQ(row(snapshot, parentID + ":toolu_a")->runtimeProfile, haiku);
            EXPECT_EQ(row(snapshot, parentID + ":toolu_b")->runtimeProfile, sonnet);
            EXPECT_EQ(row(snapshot, workerID)->evidence, "Claude turn awaiting assistant response");
            EXPECT_FALSE(row(snapshot, workerID)->resourceUsage);
        }

        // The meta file now names the other launch.
        home.write(meta, R"({"agentType":"Explore","toolUseId":"toolu_b"})", now - 50);
        auto snapshot = provider.snapshot(now);
        EXPECT_EQ(row(snapshot, parentID + ":toolu_a")->runtimeProfile, opus);
        EXPECT_EQ(row(snapshot, parentID + ":toolu_b")->runtimeProfile, haiku);

        // The worker's transcript grows: a tool call is pending.
        worker.toolUse("msg_2", "toolu_x", "Bash", {{"command", "make"}}, now - 3);
        home.transcript(otherCwd, workerID, worker, now - 3);
        snapshot = provider.snapshot(now);
        EXPECT_EQ(row(snapshot, workerID)->evidence, "Claude transcript has pending tool use");
        EXPECT_EQ(row(snapshot, workerID)->lastActivityAt, now - 3);
        EXPECT_EQ(snapshot.activeSessions.front().id, workerID);

        // The engine registers the worker's session, later leaves the registry.
        home.registerEngine(engine.pid(), workerID);
        snapshot = provider.snapshot(now);
        ASSERT_TRUE(row(snapshot, workerID)->resourceUsage);
        EXPECT_EQ(row(snapshot, workerID)->resourceUsage->pid, engine.pid());
        home.write(home.claudeHome() / "sessions" / (std::to_string(engine.pid()) + ".json"),
                   R"({"pid": 1, "sessionId": "someone else"})");
        snapshot = provider.snapshot(now);
        EXPECT_FALSE(row(snapshot, workerID)->resourceUsage);
        home.registerEngine(engine.pid(), workerID);
        EXPECT_TRUE(row(provider.snapshot(now), workerID)->resourceUsage);
        fs::remove(home.claudeHome() / "sessions" / (std::to_string(engine.pid()) + ".json"));
        EXPECT_FALSE(row(provider.snapshot(now), workerID)->resourceUsage);

        // A session in a new project folder, and one more in a known folder.
        Transcript late(lateID, home.workDir("late"));
        late.prompt("start", now - 2);
        home.transcript(home.workDir("late"), lateID, late, now - 2);
        snapshot = provider.snapshot(now);
        ASSERT_TRUE(row(snapshot, lateID));
        EXPECT_EQ(snapshot.activeSessions.front().id, lateID);
        Transcript neighbour(neighbourID, cwd);
        neighbour.prompt("and this", now - 1);
        home.transcript(cwd, neighbourID, neighbour, now - 1);
        snapshot = provider.snapshot(now);
        EXPECT_EQ(snapshot.activeSessions.size(), 6u);
        EXPECT_EQ(snapshot.activeSessions.front().id, neighbourID);

        // A transcript that disappears takes its session with it.
        fs::remove(home.projectDir(otherCwd) / (workerID + ".jsonl"));
        snapshot = provider.snapshot(now);
        EXPECT_FALSE(row(snapshot, workerID));
        EXPECT_EQ(snapshot.activeSessions.size(), 5u);
    }
}

TEST(ClaudeRepeatedScan, TaskOutputInANewTempFolderShowsOnTheNextScan) {
    ClaudeHome home;
    const Date now = wholeNow();
    const std::string cwd = home.workDir("shop");
    // The engine runs the task's shell below itself.
    ChildProcess engine("/bin/bash", {"claude", "-c", "exec -a 'shell-snap''shots/snapshot-bash.sh' sleep 30 & wait"}, cwd);
    ASSERT_TRUE(waitForCommand("shell-snapshots/"));
    Transcript t(parentID, cwd);
    t.prompt("start the dev server", now - 7205);
    t.toolUse("msg_1", "toolu_s", "Bash",
              {{"command", "npm run dev"}, {"description", "Start dev server"}, {"run_in_background", true}}, now - 7200);
    t.toolResult("toolu_s", "Command running in background with ID: bg1", now - 7200);
    t.assistantText("msg_2", "The server is starting.", now - 7190);
    home.transcript(cwd, parentID, t, now - 7190);
    const fs::path taskPath = home.projectDir(cwd).filename() / parentID / "tasks" / "bg1.output";
    home.write(home.tasksTemp() / "claude-0" / taskPath, "listening on :3000\n", now - 1860);

    ClaudeStatusProvider provider(home.config(1000), ownProcesses);
    for (int repeat = 0; repeat < 2; ++repeat) EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());

    // Output of the same task under another temp folder.
    home.write(home.tasksTemp() / "claude-1" / taskPath, "GET /\n", now - 60);
    const auto snapshot = provider.snapshot(now);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Claude working on a background task");

    // It falls quiet too.
    brindleaf::testing::setFileTime(home.tasksTemp() / "claude-1" / taskPath, now - 1900);
    EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());
}
