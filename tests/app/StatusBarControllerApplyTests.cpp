// The apply step of the refresh cycle: what a committed snapshot does to the
// acknowledged errors, the log, the icon, the dashboard and cloud sync.
#include "StatusBarControllerFakes.hpp"
#include "bench/generator/HomeGenerator.hpp"
#include "core/ProviderCatalog.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

// A provider whose answer the test sets: one running session or none, errors,
// stale sessions; or it hangs until the test lets it go.
class ControlledProvider final : public AgentStatusProvider {
public:
    explicit ControlledProvider(std::string name) : name_(std::move(name)) {}
    ~ControlledProvider() override { setHanging(false); }
    std::string name() const override { return name_; }
    ProviderSnapshot snapshot(Date at) override {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return !hanging_; });
        std::vector<AgentSession> sessions;
        if (running)
            sessions.push_back(AgentSession(
                {.id = name_ + "-1", .provider = name_, .lastActivityAt = at, .evidence = "writing code"}));
        return ProviderSnapshot::make(name_, std::nullopt, std::nullopt, sessions, stale, at, errors);
    }
    void setHanging(bool hanging) {
        {
            std::lock_guard lock(mutex_);
            hanging_ = hanging;
        }
        released_.notify_all();
    }
    // Read by the scan; set by the test between refreshes.
    bool running = false;
    std::vector<std::string> errors;
    std::int64_t stale = 0;

private:
    std::string name_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool hanging_ = false;
};

class RecordingCloudStore final : public StatusCloudSyncStore {
public:
    void save(const StatusPayload& payload) override { saved.push_back(payload); }
    void ensureSubscription() override {}
    void deleteStatus() override {}
    std::vector<StatusPayload> saved;
};

// The controller over three controlled providers and a recording cloud store.
struct ApplyRig {
    ControllerRig rig;
    std::shared_ptr<ControlledProvider> codex = std::make_shared<ControlledProvider>("Codex");
    std::shared_ptr<ControlledProvider> claude = std::make_shared<ControlledProvider>("Claude Code");
    std::shared_ptr<ControlledProvider> hermes = std::make_shared<ControlledProvider>("Hermes");
    std::shared_ptr<RecordingCloudStore> store = std::make_shared<RecordingCloudStore>();

    explicit ApplyRig(double providerTimeout = 5.0) {
        rig.dependencies.service = std::make_shared<AgentStatusService>(
            std::vector<std::shared_ptr<AgentStatusProvider>>{codex, claude, hermes}, providerTimeout);
        StatusCloudSyncController::Options sync;
        sync.mainQueue = rig.queue;
        sync.background = [](std::function<void()> job) { job(); };
        sync.store = store;
        rig.dependencies.cloudSync = StatusCloudSyncController::make(std::move(sync));
    }
    ~ApplyRig() {
        rig.controller.reset();
        for (const auto& provider : {codex, claude, hermes}) provider->setHanging(false);
    }
    void refresh() {
        rig.controller->requestRefresh("menu");
        rig.queue->drain();
    }
};

ProviderSnapshot providerIn(const std::string& name, AgentRunState state, std::optional<std::string> evidence) {
    ProviderSnapshot provider;
    provider.providerName = name;
    provider.state = state;
    provider.statusEvidence = std::move(evidence);
    return provider;
}

} // namespace

TEST(StatusBarControllerApply, AcknowledgementsOfErrorsThatNoLongerOccurArePruned) {
    ApplyRig r;
    r.codex->errors = {"Codex spawn edges: locked", "Codex recent threads: locked"};
    r.rig.start();
    auto& settings = *r.rig.dependencies.settings;
    settings.acknowledgeErrors("Codex", r.codex->errors);
    settings.acknowledgeErrors("Hermes", {"state.db unreadable"});

    r.codex->errors = {"Codex recent threads: locked"};
    r.refresh();
    EXPECT_FALSE(settings.isErrorAcknowledged("Codex", "Codex spawn edges: locked"));
    EXPECT_TRUE(settings.isErrorAcknowledged("Codex", "Codex recent threads: locked"));
    EXPECT_FALSE(settings.isErrorAcknowledged("Hermes", "state.db unreadable"));
}

TEST(StatusBarControllerApply, CloudSyncGetsTheStaleCountLessTheClearedBaseline) {
    struct Case {
        std::int64_t stale, baseline, synced;
    } cases[] = {{3, 1, 2}, {3, 0, 3}, {3, 3, 0}, {2, 5, 0}};
    for (const auto& c : cases) {
        ApplyRig r;
        r.codex->stale = c.stale;
        if (c.baseline) r.rig.dashboard->baselines = {{"codex", c.baseline}};
        r.rig.start();
        ASSERT_FALSE(r.store->saved.empty());
        const auto& providers = r.store->saved.back().providers;
        const auto codex = std::find_if(providers.begin(), providers.end(),
                                        [](const ProviderStatusPayload& p) { return p.name == "Codex"; });
        ASSERT_NE(codex, providers.end());
        EXPECT_EQ(codex->ignoredStaleSessions, c.synced) << c.stale << " less " << c.baseline;
        EXPECT_EQ(r.store->saved.back().staleCount, c.synced);
    }
}

TEST(StatusBarControllerApply, StateChangeEvidenceFallsBackInOrder) {
    AgentSession session({.id = "s", .provider = "Codex", .evidence = "session evidence"});
    struct Case {
        const char* name;
        std::optional<std::string> own;
        std::vector<ProviderSnapshot> providers;
        std::vector<AgentSession> sessions;
        std::string expected;
    } cases[] = {
        {"own first",
         "snapshot evidence",
         {providerIn("Codex", AgentRunState::inProgress, "provider evidence")},
         {session},
         "snapshot evidence"},
        {"first provider in the same state",
         std::nullopt,
         {providerIn("Codex", AgentRunState::complete, "complete evidence"),
          providerIn("Hermes", AgentRunState::inProgress, "hermes evidence"),
          providerIn("Claude Code", AgentRunState::inProgress, "claude evidence")},
         {session},
         "hermes evidence"},
        {"that provider without evidence: the first session",
         std::nullopt,
         {providerIn("Hermes", AgentRunState::inProgress, std::nullopt),
          providerIn("Claude Code", AgentRunState::inProgress, "claude evidence")},
         {session},
         "session evidence"},
        {"nothing", std::nullopt, {providerIn("Codex", AgentRunState::complete, "x")}, {}, ""},
    };
    for (const auto& c : cases) {
        AgentStatusSnapshot snapshot;
        snapshot.state = AgentRunState::inProgress;
        snapshot.statusEvidence = c.own;
        snapshot.providerSnapshots = c.providers;
        snapshot.activeSessions = c.sessions;
        EXPECT_EQ(StatusBarController::stateChangeEvidence(snapshot), c.expected) << c.name;
    }
}

TEST(StatusBarControllerApply, NoAgentReadMeansEveryAskedAgentFailed) {
    // An agent that failed as a whole (`readNothing`), or one that read its
    // sessions with an error on one source.
    auto provider = [](bool session, bool error, bool readNothing) {
        ProviderSnapshot p;
        p.providerName = "Codex";
        if (session) p.activeSessions.push_back(AgentSession({.id = "s", .provider = "Codex"}));
        if (error) p.errors = {"Codex detection timed out after 5s; showing last known state."};
        p.readNothing = readNothing;
        return p;
    };
    const ProviderSnapshot failed = provider(false, true, true);
    struct Case {
        std::vector<ProviderSnapshot> providers;
        bool unread;
    } cases[] = {
        {{}, false}, // no agent asked
        {{failed}, true},
        {{failed, failed, failed}, true},
        {{failed, provider(false, false, false), failed}, false},
        {{provider(true, true, true), failed}, false}, // one still shows a session
        {{provider(false, true, false)}, false},       // read, none runs, one source failed
        {{failed, provider(false, true, false)}, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        AgentStatusSnapshot snapshot;
        snapshot.providerSnapshots = cases[i].providers;
        EXPECT_EQ(StatusBarController::noAgentCouldBeRead(snapshot), cases[i].unread) << "case " << i;
    }
}

// Three agents that hang: each refresh's scans time out or are still busy, no
// session is shown, and the controller says the status is unknown instead of
// reporting a change to "complete".
TEST(StatusBarControllerApply, EveryAgentTimingOutIsUnknownNotComplete) {
    ApplyRig r(/*providerTimeout=*/0.05);
    // Scans that do not hang can still miss so short a limit on a busy
    // machine (their thread not run in time): ask until what they answer is in.
    const auto refreshUntil = [&r](AgentRunState wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (r.rig.controller->snapshot().state != wanted && std::chrono::steady_clock::now() < deadline) {
            r.refresh();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return r.rig.controller->snapshot().state == wanted;
    };
    r.codex->running = true;
    r.rig.start();
    ASSERT_TRUE(refreshUntil(AgentRunState::inProgress)) << "Codex's running session never answered within 60 s";
    const std::size_t changesBefore = r.rig.messages("state.changed").size();

    for (const auto& provider : {r.codex, r.claude, r.hermes}) provider->setHanging(true);
    r.rig.queue->advance(8); // the poll timer asks meanwhile
    r.refresh();

    const auto& shown = r.rig.surface->rendered.back();
    EXPECT_EQ(shown.state, AgentRunState::unknown);
    EXPECT_TRUE(shown.activeSessions.empty());
    EXPECT_EQ(r.rig.dashboard->published.back().state, AgentRunState::unknown);
    // The payload's top level knows only working or not; its agents say unknown.
    const auto& payload = r.store->saved.back();
    EXPECT_EQ(payload.state, StatusPayloadState::complete);
    ASSERT_EQ(payload.providers.size(), 3u);
    for (const auto& provider : payload.providers) EXPECT_EQ(provider.state, StatusPayloadState::unknown);
    const auto changes = r.rig.messages("state.changed");
    ASSERT_EQ(changes.size(), changesBefore + 1);
    EXPECT_TRUE(
        changes.back().starts_with("state.changed from=inProgress to=unknown active=0 evidence=Codex detection "))
        << changes.back();
    for (const auto& change : changes) EXPECT_EQ(change.find("to=complete"), std::string::npos) << change;

    // The agents answer again: the next refresh that reads them is complete.
    r.codex->running = false;
    for (const auto& provider : {r.codex, r.claude, r.hermes}) provider->setHanging(false);
    // A released scan still ending on its worker answers "still running" (at
    // once) until its thread gets to run: ask until the agents' own answers
    // arrive, however many refreshes that takes.
    ASSERT_TRUE(refreshUntil(AgentRunState::complete)) << "the released scans never answered within 60 s";
    EXPECT_EQ(r.rig.messages("state.changed").back().rfind("state.changed from=unknown to=complete active=0", 0), 0u)
        << ::testing::PrintToString(r.rig.messages("state.changed"));
}

namespace {

// The Codex provider as the composition root builds it, on a generated home,
// with no processes (processes elsewhere on the machine take no part).
std::shared_ptr<AgentStatusService> codexServiceOn(const bench::GeneratedHome& home) {
    const ProcessSnapshotReader noProcesses = [] { return ProcessSampleList(); };
    auto codex = std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(home.codexHome().string(), {}),
                                                       noProcesses, std::make_shared<NoopCodexOfficialStatusProbe>());
    return std::make_shared<AgentStatusService>(std::vector<std::shared_ptr<AgentStatusProvider>>{codex}, 30.0);
}

std::vector<std::string> sessionIDs(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> ids;
    for (const auto& session : snapshot.activeSessions) ids.push_back(session.id);
    return ids;
}

// Only Codex enabled, on a generated home whose runtime-log database is a
// FIFO: one source of three unreadable.
struct UnreadableRuntimeLogRig {
    TempDir dir;
    Date now = std::floor(currentDate());
    bench::GeneratedHome home;
    ControllerRig rig;

    explicit UnreadableRuntimeLogRig(bench::HomeRecipe recipe) {
        home = bench::HomeGenerator(recipe).write(dir.path(), now);
        const auto log = home.codexHome() / "logs_2.sqlite";
        std::filesystem::rename(log, home.codexHome() / "logs_2.sqlite.real");
        if (::mkfifo(log.c_str(), 0600) != 0) throw std::runtime_error("no FIFO in place of the log database");
        rig.dependencies.service = codexServiceOn(home);
        rig.wallClockOffset = now - rig.queue->now();
        for (const auto& provider : ProviderCatalog::all())
            if (provider.id != "codex") rig.dependencies.settings->setProvider(false, provider);
    }
    const AgentStatusSnapshot& shown() const { return rig.surface->rendered.back(); }
    std::string runtimeLogError() const {
        for (const auto& provider : shown().providerSnapshots)
            for (const auto& error : provider.errors)
                if (error.starts_with("Codex runtime logs")) return error;
        return {};
    }
};

} // namespace

// The sessions read from the state database are shown as a fresh dump shows
// them, with the one error; the status is not unavailable.
TEST(StatusBarControllerApply, OneUnreadableSourceStillShowsTheSessionsItsAgentRead) {
    UnreadableRuntimeLogRig r(bench::HomeRecipe::forSize(bench::HomeSize::small));
    const AgentStatusSnapshot dumped = codexServiceOn(r.home)->snapshot(r.now);
    ASSERT_FALSE(dumped.activeSessions.empty()) << "the generated home has Codex sessions at work";

    r.rig.start();
    ASSERT_FALSE(r.rig.surface->rendered.empty());
    EXPECT_EQ(sessionIDs(r.shown()), sessionIDs(dumped));
    EXPECT_EQ(r.shown().state, AgentRunState::inProgress);
    ASSERT_EQ(r.shown().providerSnapshots.size(), 1u);
    EXPECT_NE(r.runtimeLogError(), "") << "the FIFO is reported";
    EXPECT_TRUE(r.rig.messages("state.changed from=complete to=unknown").empty());
}

// An agent that read that none of its threads runs, with one source
// unreadable, is idle, whether or not the user acknowledged the error.
TEST(StatusBarControllerApply, AnAgentThatReadNoneRunsWithOneSourceUnreadableIsIdle) {
    auto recipe = bench::HomeRecipe::forSize(bench::HomeSize::small);
    recipe.codexThreads = 0;
    recipe.codexRollouts = 0;
    recipe.codexLogRows = 0;
    UnreadableRuntimeLogRig r(recipe);
    r.rig.start();
    ASSERT_FALSE(r.rig.surface->rendered.empty());
    const std::string error = r.runtimeLogError();
    ASSERT_NE(error, "") << "the FIFO is reported";
    EXPECT_TRUE(r.shown().activeSessions.empty());
    EXPECT_EQ(r.shown().state, AgentRunState::complete);

    r.rig.dependencies.settings->acknowledgeErrors("Codex", {error});
    r.rig.controller->requestRefresh("menu");
    r.rig.queue->drain();
    EXPECT_TRUE(r.rig.dependencies.settings->isErrorAcknowledged("Codex", error));
    EXPECT_EQ(r.shown().state, AgentRunState::complete);
    EXPECT_TRUE(r.rig.messages("state.changed from=complete to=unknown").empty());
}
