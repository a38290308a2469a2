// Whether the tray says "Status Unavailable" (the shown state unknown) with one
// agent enabled: its sources missing (nothing runs there), there but
// unreadable, its scan failing, throwing, late or still running. Through the
// real providers, the real detection service and the controller's apply step.
#include "StatusBarControllerFakes.hpp"
#include "bench/generator/SQLiteWriter.hpp"
#include "core/ProviderCatalog.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

// The controller over a service of one real provider, the only agent enabled.
struct OneAgentRig {
    ControllerRig rig;

    OneAgentRig(std::shared_ptr<AgentStatusProvider> provider, const std::string& id, double providerTimeout = 30) {
        rig.dependencies.service = std::make_shared<AgentStatusService>(
            std::vector<std::shared_ptr<AgentStatusProvider>>{std::move(provider)}, providerTimeout);
        for (const auto& descriptor : ProviderCatalog::all())
            if (descriptor.id != id) rig.dependencies.settings->setProvider(false, descriptor);
    }
    const AgentStatusSnapshot& shown() const { return rig.surface->rendered.back(); }
    bool unavailable() const { return shown().state == AgentRunState::unknown; }
    std::vector<std::string> errors() const {
        return shown().providerSnapshots.empty() ? std::vector<std::string>{} : shown().providerSnapshots[0].errors;
    }
    void refresh() {
        rig.controller->requestRefresh("menu");
        rig.queue->drain();
    }
};

bool anyStartsWith(const std::vector<std::string>& errors, const std::string& prefix) {
    return std::any_of(errors.begin(), errors.end(), [&](const std::string& e) { return e.starts_with(prefix); });
}

// A log database in Codex's shape with no row.
void writeEmptyLogDatabase(const std::filesystem::path& path) {
    bench::SQLiteWriter db(path);
    db.exec("create table logs (id integer primary key, ts integer not null, thread_id text, target text not null, "
            "feedback_log_body text)");
}

class ScriptedOfficialProbe final : public CodexOfficialStatusProbe {
public:
    explicit ScriptedOfficialProbe(std::vector<CodexOfficialThreadStatus> statuses) : statuses_(std::move(statuses)) {}
    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date) override { return statuses_; }

private:
    std::vector<CodexOfficialThreadStatus> statuses_;
};

// Holds every read of the process table until the test lets it go. The scan
// threads share it: one may still wait in it when the test ends.
struct ProcessTableGate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void pass() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

} // namespace

// Only Codex enabled: a state database that is missing is read as nothing
// running; one that is there but unreadable is unavailable unless another
// source (the log database, the app server) answered; a scan that fails as a
// whole is unavailable.
TEST(StatusBarControllerReadNothing, CodexIsUnavailableOnlyWhenWhatIsThereCouldNotBeRead) {
    enum class State { missing, unreadable, empty };
    CodexOfficialThreadStatus idleThread;
    idleThread.id = "t-idle";
    idleThread.state = CodexOfficialThreadRunState::idle;
    struct Case {
        const char* name;
        State state;
        bool logDatabase;
        std::vector<CodexOfficialThreadStatus> official;
        bool processTableFails;
        bool unavailable;
        std::vector<std::string> errorPrefixes;
    } cases[] = {
        {"Codex not yet used: no state database",
         State::missing,
         false,
         {},
         false,
         false,
         {"Codex state sqlite not found"}},
        {"a state database that cannot be opened",
         State::unreadable,
         false,
         {},
         false,
         true,
         {"Codex spawn edges: ", "Codex recent threads: "}},
        {"that, with the log database read",
         State::unreadable,
         true,
         {},
         false,
         false,
         {"Codex spawn edges: ", "Codex recent threads: "}},
        {"that, with the app server naming an idle thread",
         State::unreadable,
         false,
         {idleThread},
         false,
         false,
         {"Codex spawn edges: ", "Codex recent threads: "}},
        {"a state database read, the scan failing on the process table",
         State::empty,
         false,
         {},
         true,
         true,
         {"Codex scan failed: process table gone"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto codexHome = dir.path() / ".codex";
        std::filesystem::create_directories(codexHome);
        if (c.state == State::unreadable) writeFile(codexHome / "state_5.sqlite", "not a database, and long enough");
        if (c.state == State::empty) bench::SQLiteWriter(codexHome / "state_5.sqlite").exec("create table t (x)");
        if (c.logDatabase) writeEmptyLogDatabase(codexHome / "logs_2.sqlite");
        const bool fails = c.processTableFails;
        const ProcessSnapshotReader processes = [fails] {
            if (fails) throw std::runtime_error("process table gone");
            return ProcessSampleList();
        };
        auto codex =
            std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(codexHome.string(), {}), processes,
                                                  std::make_shared<ScriptedOfficialProbe>(c.official));
        OneAgentRig r(codex, "codex");
        r.rig.start();
        ASSERT_FALSE(r.rig.surface->rendered.empty());
        EXPECT_EQ(r.unavailable(), c.unavailable);
        EXPECT_EQ(r.rig.dashboard->published.back().state, r.shown().state);
        EXPECT_TRUE(r.shown().activeSessions.empty());
        const auto errors = r.errors();
        ASSERT_EQ(errors.size(), c.errorPrefixes.size()) << ::testing::PrintToString(errors);
        for (std::size_t i = 0; i < errors.size(); ++i) EXPECT_TRUE(errors[i].starts_with(c.errorPrefixes[i]));
        if (c.unavailable) {
            EXPECT_EQ(r.shown().statusEvidence, errors.back()) << "the agent's latest error says why";
        } else {
            EXPECT_EQ(r.shown().state, AgentRunState::complete);
        }
    }
}

// A Codex scan held in the process table: the refresh it misses and the one
// that finds it still running are unavailable; once it answers, idle.
TEST(StatusBarControllerReadNothing, AScanThatTimedOutOrIsStillRunningIsUnavailable) {
    TempDir dir;
    const auto codexHome = dir.path() / ".codex";
    std::filesystem::create_directories(codexHome);
    bench::SQLiteWriter(codexHome / "state_5.sqlite").exec("create table t (x)");
    auto gate = std::make_shared<ProcessTableGate>();
    const ProcessSnapshotReader processes = [gate] {
        gate->pass();
        return ProcessSampleList();
    };
    auto codex = std::make_shared<CodexStatusProvider>(CodexProviderConfig::standard(codexHome.string(), {}), processes,
                                                       std::make_shared<NoopCodexOfficialStatusProbe>());
    struct Release {
        std::shared_ptr<ProcessTableGate> gate;
        ~Release() { gate->release(); }
    } releaseAtEnd{gate};
    // The scan cannot end before the gate opens, however fast the machine.
    OneAgentRig r(codex, "codex", /*providerTimeout=*/0.2);

    r.rig.start();
    ASSERT_FALSE(r.rig.surface->rendered.empty());
    EXPECT_TRUE(r.unavailable());
    EXPECT_TRUE(anyStartsWith(r.errors(), "Codex detection timed out after ")) << ::testing::PrintToString(r.errors());

    r.refresh();
    EXPECT_TRUE(r.unavailable());
    EXPECT_TRUE(anyStartsWith(r.errors(), "Codex detection is still running")) << ::testing::PrintToString(r.errors());

    gate->release();
    // The released scan ends on its own thread; until it has, refreshes find
    // it still running.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (r.unavailable() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        r.refresh();
    }
    ASSERT_FALSE(r.unavailable()) << "the released scan never answered within 60 s";
    EXPECT_EQ(r.shown().state, AgentRunState::complete);
    EXPECT_TRUE(r.errors().empty()) << ::testing::PrintToString(r.errors());
}

// Only Hermes enabled, its scan throwing from the process table: the service
// stands in with an unavailable answer, whatever was thrown.
TEST(StatusBarControllerReadNothing, AScanThatThrewIsUnavailable) {
    struct Case {
        const char* name;
        bool standardException;
        const char* error;
    } cases[] = {
        {"an exception", true, "Hermes detection failed: process table gone"},
        {"anything else", false, "Hermes detection failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(".hermes/gateway_state.json", "{}");
        const bool standard = c.standardException;
        const ProcessSnapshotReader processes = [standard]() -> ProcessSampleList {
            if (standard) throw std::runtime_error("process table gone");
            throw 7;
        };
        auto hermes = std::make_shared<HermesStatusProvider>(
            HermesProviderConfig::standard(dir.path().string()), processes, ProcessCommandReader{},
            std::make_shared<HermesDefaultOfficialStatusProbe>(), 30.0);
        OneAgentRig r(hermes, "hermes");
        r.rig.start();
        ASSERT_FALSE(r.rig.surface->rendered.empty());
        EXPECT_TRUE(r.unavailable());
        EXPECT_EQ(r.errors(), std::vector<std::string>{c.error});
    }
}
