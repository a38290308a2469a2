// What the Codex daemon's statuses decide, alone and with the rollout and the
// process table; and the daemon probe and the provider together on a real
// Codex home.
#include "providers/codex/CodexDaemonStatusProbe.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/providers/codex/CodexDaemonHome.hpp"
#include "tests/providers/codex/CodexFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using Kind = CodexStatusProvider::CandidateDecision::Kind;
using State = CodexOfficialThreadRunState;

namespace {

constexpr Date now = 1'700'000'000.0;

ProcessResourceSample process(int64_t pid, std::string command) {
    ProcessResourceSample sample;
    sample.pid = pid;
    sample.parentPID = 1;
    sample.command = std::move(command);
    return sample;
}

const std::vector<ProcessResourceSample> frontEnd = {
    process(40, "node /usr/lib/node_modules/@openai/codex/bin/codex.js"),
    process(41, "/usr/lib/node_modules/@openai/codex-linux-x64/vendor/x86_64-unknown-linux-musl/bin/codex")};
const std::vector<ProcessResourceSample> daemonOnly = {
    process(50, "/home/u/.codex/packages/standalone/current/codex app-server --listen unix:// --managed-daemon"),
    process(51, "/home/u/.codex/packages/standalone/current/codex app-server daemon-updater")};

CodexOfficialThreadStatus liveStatus(std::string id, State state, CodexThreadWait wait = CodexThreadWait::none) {
    CodexOfficialThreadStatus status;
    status.id = std::move(id);
    status.state = state;
    status.wait = wait;
    status.live = true;
    status.needsUserAttention = wait != CodexThreadWait::none || state == State::systemError;
    return status;
}

} // namespace

TEST(CodexDaemonRules, TheDaemonsStatusDecides) {
    CodexHomeFixture fixture;
    CodexStatusProvider provider{fixture.config(), noProcesses(), std::make_shared<NoopCodexOfficialStatusProbe>()};
    const std::string pendingCall =
        fixture.writeRollout("call.jsonl", {rollout::turnStarted(), rollout::functionCall("c1")}, now - 30);
    const std::string pendingQuestion = fixture.writeRollout(
        "ask.jsonl", {rollout::turnStarted(), rollout::functionCall("c2", "request_user_input")}, now - 30);
    struct Case {
        const char* what;
        CodexOfficialThreadStatus status;
        std::optional<std::string> rollout;
        const std::vector<ProcessResourceSample>& processes;
        Kind kind;
        const char* evidence; // the session's, or the completion's reason
        bool needsUser;
    };
    const std::vector<ProcessResourceSample> none;
    const Case cases[] = {
        {"waiting for an approval", liveStatus("a", State::active, CodexThreadWait::approval), pendingCall, frontEnd,
         Kind::active, "Codex waits for your approval", true},
        {"waiting for an answer", liveStatus("q", State::active, CodexThreadWait::userInput), std::nullopt, frontEnd,
         Kind::active, "Codex waits for your answer", true},
        {"running over a pending question in the rollout", liveStatus("r", State::active), pendingQuestion, frontEnd,
         Kind::active, "official Codex app-server status: active", false},
        {"running with no Codex front end", liveStatus("r2", State::active), std::nullopt, daemonOnly, Kind::active,
         "official Codex app-server status: active", false},
        {"idle over a pending call", liveStatus("i", State::idle), pendingCall, frontEnd, Kind::inactive,
         "official Codex app-server status: idle", false},
        {"an approval only the daemon and its updater remember",
         liveStatus("g", State::active, CodexThreadWait::approval), pendingCall, daemonOnly, Kind::active,
         "rollout has pending tool call", false},
        {"a question with no process table", liveStatus("g2", State::active, CodexThreadWait::userInput),
         pendingQuestion, none, Kind::active, "rollout has pending tool call", true},
        {"a forgotten wait with nothing else to go by", liveStatus("g3", State::active, CodexThreadWait::approval),
         std::nullopt, daemonOnly, Kind::inactive, "", false},
        {"a system error", liveStatus("e", State::systemError), std::nullopt, none, Kind::active,
         "official Codex app-server status: systemError", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CodexOfficialThreadStatus status = c.status;
        status.rolloutPath = c.rollout;
        auto candidate = CodexStatusProvider::officialCandidate(status, now);
        ASSERT_TRUE(candidate);
        auto decision = provider.decide(*candidate, now, c.processes, {});
        ASSERT_EQ(decision.kind, c.kind);
        if (c.kind == Kind::active) {
            EXPECT_EQ(decision.session->evidence, c.evidence);
            EXPECT_EQ(decision.session->needsUserAttention, c.needsUser);
            // The ledger takes every daemon sentence as strong evidence.
            auto evidence = provider.runEvidence({*decision.session}, {}, now);
            EXPECT_EQ(evidence.front().strength, RunEvidenceStrength::strongActive);
        } else if (*c.evidence) {
            ASSERT_TRUE(decision.completion);
            EXPECT_EQ(decision.completion->reason, c.evidence);
        } else {
            EXPECT_FALSE(decision.completion);
        }
    }
}

TEST(CodexDaemonRules, OnlyACodexThatCanShowAPromptCounts) {
    const std::pair<const char*, bool> cases[] = {
        {"codex", true},
        {"/usr/local/bin/codex --model gpt-5", true},
        {"node /usr/local/bin/codex resume", true},
        {"/usr/bin/node /usr/lib/node_modules/@openai/codex/bin/codex.js exec fix it", true},
        {"/opt/codex/bin/codex app-server --listen unix:// --managed-daemon", false},
        {"/opt/codex/bin/codex app-server daemon-updater", false},
        {"codex app-server-updater", false},
        {"node /srv/app/server.js codex", false},
        {"/usr/bin/codex-code-mode-host", false},
        {"vim codex", false},
        {"", false},
    };
    for (const auto& [command, expected] : cases)
        EXPECT_EQ(codex::isCodexFrontEndProcess(command), expected) << command;
}

// The provider with the daemon probe on a Codex home with its state database
// and rollouts: the daemon's word decides while Codex runs, and its changes
// show in the next scan.
TEST(CodexDaemonRules, TheProviderFollowsTheDaemon) {
    CodexHomeFixture fixture;
    fixture.createStateDatabase();
    const Date wall = currentDate();
    const std::string waiting =
        fixture.writeRollout("w.jsonl", {rollout::turnStarted(), rollout::functionCall("c1")}, wall - 5);
    const std::string done =
        fixture.writeRollout("d.jsonl", {rollout::turnStarted(), rollout::functionCall("c2")}, wall - 5);
    fixture.addThread({.id = "w", .title = "Deploy", .rolloutPath = waiting, .updatedAt = int64_t(wall) - 5});
    fixture.addThread({.id = "d", .title = "Docs", .rolloutPath = done, .updatedAt = int64_t(wall) - 5});
    CodexDaemonHome home(fixture.home());
    TestCodexDaemon::Thread w{.id = "w", .type = "active", .flags = {"waitingOnApproval"}, .path = waiting};
    TestCodexDaemon::Thread d{.id = "d", .type = "idle", .path = done};
    TestCodexDaemon::Thread title{.id = "t", .type = "active", .ephemeral = true};
    // A thread the databases do not know yet.
    TestCodexDaemon::Thread fresh{.id = "n", .type = "active", .path = waiting, .name = "Brand new"};
    home.daemon->setThreads({w, d, title, fresh});

    const auto sessionsOf = [](CodexStatusProvider& provider) {
        std::map<std::string, AgentSession> sessions;
        for (const auto& session : provider.snapshot(currentDate()).activeSessions)
            sessions.emplace(session.id, session);
        return sessions;
    };
    const ProcessSnapshotReader running = [] { return ProcessSampleList(frontEnd); };

    {
        // Headless: one connection per scan.
        CodexStatusProvider provider(
            fixture.config(), running,
            std::make_shared<CodexDaemonStatusProbe>(home.options(CodexDaemonStatusProbe::Mode::once)));
        auto sessions = sessionsOf(provider);
        ASSERT_TRUE(sessions.count("w"));
        EXPECT_TRUE(sessions.at("w").needsUserAttention);
        EXPECT_EQ(sessions.at("w").evidence, "Codex waits for your approval");
        EXPECT_EQ(sessions.at("w").title, "Deploy");
        EXPECT_FALSE(sessions.count("d")) << "idle ends the turn over the rollout's pending call";
        EXPECT_FALSE(sessions.count("t")) << "an ephemeral thread is no session";
        ASSERT_TRUE(sessions.count("n")) << "a thread only the daemon knows";
        EXPECT_EQ(sessions.at("n").evidence, "official Codex app-server status: active");
        EXPECT_EQ(sessions.at("n").title, "Brand new");
    }
    {
        // The tray: followed; a change arrives without a scan asking.
        auto probe = std::make_shared<CodexDaemonStatusProbe>(home.options(CodexDaemonStatusProbe::Mode::follow));
        CodexStatusProvider provider(fixture.config(), running, probe);
        ASSERT_TRUE(eventually([&] { return probe->isConnected(); }));
        EXPECT_TRUE(sessionsOf(provider).at("w").needsUserAttention);
        home.daemon->changeStatus("w", "active");
        ASSERT_TRUE(eventually([&] {
            auto sessions = sessionsOf(provider);
            return sessions.count("w") && !sessions.at("w").needsUserAttention;
        })) << "the approval's end never reached the scan";
        EXPECT_EQ(sessionsOf(provider).at("w").evidence, "official Codex app-server status: active");
        home.daemon->renameThread("w", "Ship it");
        ASSERT_TRUE(eventually([&] { return sessionsOf(provider).at("w").title == "Ship it"; }))
            << "the daemon's new name did not replace the database's title";
        home.daemon->changeStatus("w", "idle");
        ASSERT_TRUE(eventually([&] { return !sessionsOf(provider).count("w"); }));
    }
    {
        // Without a Codex to show the prompt, the wait counts for nothing: the rollout decides.
        home.daemon->changeStatus("w", "active", {"waitingOnApproval"});
        CodexStatusProvider provider(
            fixture.config(), noProcesses(),
            std::make_shared<CodexDaemonStatusProbe>(home.options(CodexDaemonStatusProbe::Mode::once)));
        auto sessions = sessionsOf(provider);
        ASSERT_TRUE(sessions.count("w"));
        EXPECT_FALSE(sessions.at("w").needsUserAttention);
        EXPECT_EQ(sessions.at("w").evidence, "rollout has pending tool call");
    }
}
