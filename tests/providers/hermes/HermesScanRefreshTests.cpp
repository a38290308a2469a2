// Scans that follow one another: whatever a scan kept from the one before
// (query results and what was derived from them, the classified log, the
// workers and usage of a process list, file states) must give way as soon as
// its source changes.
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/providers/hermes/HermesTestSupport.hpp"

#include "core/FileStat.hpp"
#include "core/ProcessSampleList.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using namespace brindleaf::testing::hermes;

namespace {

constexpr Date now = 1767323045.0;
constexpr double minute = 60;

const AgentSession* find(const ProviderSnapshot& snapshot, const std::string& id) {
    auto it = std::find_if(snapshot.activeSessions.begin(), snapshot.activeSessions.end(),
                           [&](const AgentSession& s) { return s.id == id; });
    return it == snapshot.activeSessions.end() ? nullptr : &*it;
}

std::string terminalCall(const std::string& command) {
    return R"([{"function":{"name":"terminal","arguments":"{\"command\":\")" + command + R"(\"}"}}])";
}

// Moves a file's modification time forward so that no change hides within the clock's resolution.
void touchLater(const std::string& path, double seconds) {
    const auto info = FileStat::info(path);
    ASSERT_TRUE(info.has_value()) << path;
    setFileTime(path, info->modifiedAt + seconds);
}

HermesProviderConfig configFor(const TempDir& dir) {
    HermesProviderConfig config;
    config.hermesHome = dir.path().string();
    return config;
}

} // namespace

TEST(HermesScanRefresh, ChangedRowsAndLogLinesReplaceWhatEarlierScansDerived) {
    ScopedTimeZone zone("UTC0");
    TempDir dir;
    const std::string dbPath = (dir.path() / "state.db").string();
    StateDatabase db(dbPath);
    db.add(SessionRow{.id = "20_p", .title = "Parent one", .startedAt = now - 30 * minute});
    db.add(SessionRow{.id = "20_t", .parentID = "20_p", .title = "First title\nmore", .startedAt = now - 2 * minute,
                      .handoffState = "running"});
    db.add(MessageRow{.sessionID = "20_t", .role = "assistant", .timestamp = now - 2 * minute,
                      .toolCalls = terminalCall("npm run build")});
    dir.write("logs/agent.log", logLine(now - 30, "20_t", "agent.turn_context: conversation turn: platform=cli"));

    // One sampling, shared by every scan, runs both commands.
    const ProcessSampleList samples(std::vector<ProcessResourceSample>{
        {50, 1, 1.0, 100, "sh -c npm run build", std::nullopt},
        {51, 50, 2.0, 200, "node build.js", std::nullopt},
        {70, 1, 8.0, 800, "cargo build --release", std::nullopt},
    });
    HermesStatusProvider provider(configFor(dir), [&] { return samples; });

    auto snapshot = provider.snapshot(now);
    const AgentSession* session = find(snapshot, "20_t");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->title, "First title");
    EXPECT_EQ(session->parentTitle, "Parent one");
    EXPECT_EQ(session->evidence, "Hermes active turn");
    EXPECT_EQ(session->resourceUsage, SessionResourceUsage(50, 3.0, 300, 2));
    EXPECT_EQ(provider.snapshot(now + 1).activeSessions, snapshot.activeSessions)
        << "an unchanged home answers the same";

    // The rows change: new titles, and the session's latest terminal call runs another command.
    db.exec("update sessions set title = 'Second title' where id = '20_t'");
    db.exec("update sessions set title = 'Parent two' where id = '20_p'");
    db.add(MessageRow{.sessionID = "20_t", .role = "assistant", .timestamp = now - minute,
                      .toolCalls = terminalCall("cargo build --release")});
    touchLater(dbPath, 2);
    snapshot = provider.snapshot(now + 2);
    session = find(snapshot, "20_t");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->title, "Second title");
    EXPECT_EQ(session->parentTitle, "Parent two");
    EXPECT_EQ(session->resourceUsage, SessionResourceUsage(70, 8.0, 800, 1));
    EXPECT_EQ(session->evidence, "Hermes active turn");

    // The log now says the session waits for the user.
    const std::string approval = R"(agent.tool_executor: Tool terminal returned error {"approval_pending": true})";
    dir.write("logs/agent.log", logLine(now - 30, "20_t", "agent.turn_context: conversation turn: platform=cli") +
                                    logLine(now - 10, "20_t", approval));
    touchLater((dir.path() / "logs/agent.log").string(), 2);
    snapshot = provider.snapshot(now + 3);
    session = find(snapshot, "20_t");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->evidence, "Hermes awaiting user authorization");
    EXPECT_TRUE(session->needsUserAttention);

    // And the log is gone: the handoff is what is left.
    std::filesystem::remove(dir.path() / "logs/agent.log");
    snapshot = provider.snapshot(now + 4);
    session = find(snapshot, "20_t");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->evidence, "Hermes handoff running");
    EXPECT_FALSE(session->needsUserAttention);
}

TEST(HermesScanRefresh, UsageFollowsTheWorkersAndProcessListOfEachScan) {
    TempDir dir;
    StateDatabase db((dir.path() / "state.db").string());
    db.add(SessionRow{.id = "20_w", .startedAt = now - 2 * minute, .handoffState = "running"});

    ProcessSampleList samples(std::vector<ProcessResourceSample>{
        {4000, 1, 1.0, 100, "python3 -m tui_gateway.slash_worker --session-key 20_w", std::nullopt},
        {4001, 1, 2.0, 200, "python3 helper", std::nullopt},
        {4002, 1, 4.0, 400, "unrelated", std::nullopt},
    });
    std::vector<std::string> lines;
    HermesStatusProvider provider(configFor(dir), [&] { return samples; }, [&] { return lines; });
    auto usage = [&](Date at) {
        const auto snapshot = provider.snapshot(at);
        const AgentSession* session = find(snapshot, "20_w");
        EXPECT_NE(session, nullptr);
        return session ? session->resourceUsage : std::nullopt;
    };

    EXPECT_EQ(usage(now), SessionResourceUsage(4000, 1.0, 100, 1));
    EXPECT_EQ(usage(now + 1), SessionResourceUsage(4000, 1.0, 100, 1));

    // The same sampling, but the listing names a second worker of the same session.
    lines = {"4001 python3 -m tui_gateway.slash_worker --session-key 20_w"};
    EXPECT_EQ(usage(now + 2), SessionResourceUsage(4000, 3.0, 300, 2));
    lines.clear();
    EXPECT_EQ(usage(now + 3), SessionResourceUsage(4000, 1.0, 100, 1));

    // A new sampling in which the worker runs under another pid, with a child of its own.
    samples = ProcessSampleList(std::vector<ProcessResourceSample>{
        {4100, 1, 0.5, 50, "python3 -m tui_gateway.slash_worker --session-key 20_w", std::nullopt},
        {4101, 4100, 0.25, 25, "bash", std::nullopt},
    });
    EXPECT_EQ(usage(now + 4), SessionResourceUsage(4100, 0.75, 75, 2));

    // A sampling with equal contents in new storage answers the same.
    samples = ProcessSampleList(std::vector<ProcessResourceSample>(samples.all()));
    EXPECT_EQ(usage(now + 5), SessionResourceUsage(4100, 0.75, 75, 2));
}

TEST(HermesScanRefresh, FilesThatAppearOrVanishBetweenScansAreSeen) {
    TempDir dir;
    auto gatewayProcess = startSleeper();
    HermesStatusProvider provider(configFor(dir), [] { return std::vector<ProcessResourceSample>{}; });
    EXPECT_TRUE(provider.snapshot(now).activeSessions.empty());

    // A gateway without sessions shows itself once its state file is written.
    dir.write("gateway_state.json", R"({"gateway_state":"running","pid":)" + std::to_string(gatewayProcess->pid()) +
                                        R"(,"active_agents":1})");
    auto snapshot = provider.snapshot(now + 1);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].id, "gateway");

    // Then the database arrives with an open session, which stands for the agent.
    {
        StateDatabase db((dir.path() / "state.db").string());
        db.add(SessionRow{.id = "20_a", .title = "Arrived", .startedAt = now - minute});
    }
    snapshot = provider.snapshot(now + 2);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].id, "20_a");
    EXPECT_EQ(snapshot.activeSessions[0].evidence, "Hermes gateway active_agents=1");

    // The database goes: the gateway stands alone again; then the gateway's file goes too.
    std::filesystem::remove(dir.path() / "state.db");
    snapshot = provider.snapshot(now + 3);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].id, "gateway");
    std::filesystem::remove(dir.path() / "gateway_state.json");
    EXPECT_TRUE(provider.snapshot(now + 4).activeSessions.empty());

    // A child-process list appearing later is read as well.
    auto child = startSleeper();
    dir.write("processes.json", R"([{"session_key":"k1","pid":)" + std::to_string(child->pid()) +
                                    R"(,"command":"make all"}])");
    snapshot = provider.snapshot(now + 5);
    ASSERT_EQ(snapshot.activeSessions.size(), 1u);
    EXPECT_EQ(snapshot.activeSessions[0].title, "make all");
}

TEST(HermesScanChildren, ASessionTakesTheFirstChildOfItsKeyHoweverLongTheList) {
    TempDir dir;
    StateDatabase db((dir.path() / "state.db").string());
    db.add(SessionRow{.id = "20_s", .startedAt = now - 100 * minute});
    auto first = startSleeper();
    const std::string self = std::to_string(::getpid());
    const std::string ownEntries = R"({"session_key":"20_s","pid":)" + std::to_string(first->pid()) + "}," +
                                   R"({"session_key":"20_s","pid":)" + self + "}";
    HermesStatusProvider provider(configFor(dir), [] { return std::vector<ProcessResourceSample>{}; });

    for (int others : {0, 3, 40}) {
        std::string list = "[";
        for (int i = 0; i < others; ++i)
            list += R"({"session_key":"k)" + std::to_string(i) + R"(","pid":)" + self + "},";
        dir.write("processes.json", list + ownEntries + "]");
        touchLater((dir.path() / "processes.json").string(), others + 1);
        const auto snapshot = provider.snapshot(now);
        const AgentSession* session = find(snapshot, "20_s");
        ASSERT_NE(session, nullptr) << others;
        EXPECT_EQ(session->evidence, "Hermes child process pid=" + std::to_string(first->pid())) << others;
        EXPECT_EQ(snapshot.activeSessions.size(), static_cast<std::size_t>(others) + 1) << others;
    }
}
