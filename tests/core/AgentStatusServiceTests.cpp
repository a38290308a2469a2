#include "core/AgentStatusProvider.hpp"
#include "core/AgentStatusService.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "platform/Logger.hpp"
#include "tests/support/CapturedLog.hpp"
#include "tests/support/Gate.hpp"
#include "tests/support/ScopedGermanLocale.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace brindleaf;
using namespace std::chrono_literals;
using brindleaf::testing::CapturedLog;
using brindleaf::testing::Gate;
using brindleaf::testing::ScopedGermanLocale;
using brindleaf::testing::WaitableLogSink;

namespace {

constexpr Date T = 1'780'000'000;
constexpr auto patience = 10s; // only reached when a test fails

AgentSession session(const std::string& provider, const std::string& id, const std::string& evidence, Date at,
                     bool needsUser = false) {
    return AgentSession({.id = id,
                         .provider = provider,
                         .title = id,
                         .cwd = "/src",
                         .lastActivityAt = at,
                         .evidence = evidence,
                         .needsUserAttention = needsUser});
}

// A provider whose scans run a scripted body; it counts its calls and can
// report when it is destroyed.
class FakeProvider final : public AgentStatusProvider {
public:
    using Body = std::function<ProviderSnapshot(const std::string& name, Date at, int call)>;

    FakeProvider(std::string name, Body body, std::shared_ptr<Gate> destroyed = nullptr)
        : name_(std::move(name)), body_(std::move(body)), destroyed_(std::move(destroyed)) {}
    ~FakeProvider() override {
        if (destroyed_) destroyed_->open();
    }

    std::string name() const override { return name_; }
    ProviderSnapshot snapshot(Date at) override {
        int call;
        {
            std::lock_guard guard(mutex_);
            times_.push_back(at);
            call = static_cast<int>(times_.size());
            overlapping_ = overlapping_ || running_;
            running_ = true;
        }
        auto result = body_(name_, at, call);
        std::lock_guard guard(mutex_);
        running_ = false;
        return result;
    }
    int calls() const {
        std::lock_guard guard(mutex_);
        return static_cast<int>(times_.size());
    }
    std::vector<Date> times() const {
        std::lock_guard guard(mutex_);
        return times_;
    }
    bool everOverlapped() const {
        std::lock_guard guard(mutex_);
        return overlapping_;
    }

private:
    std::string name_;
    Body body_;
    std::shared_ptr<Gate> destroyed_;
    mutable std::mutex mutex_;
    std::vector<Date> times_;
    bool running_ = false;
    bool overlapping_ = false;
};

ProviderSnapshot idle(const std::string& name, Date at) {
    return ProviderSnapshot::make(name, std::nullopt, std::nullopt, {}, 0, at, {});
}

std::shared_ptr<FakeProvider> quickProvider(const std::string& name) {
    return std::make_shared<FakeProvider>(name, [](const std::string& n, Date at, int) { return idle(n, at); });
}

// Blocks every scan until its gate opens.
std::shared_ptr<FakeProvider> hungProvider(const std::string& name, std::shared_ptr<Gate> gate,
                                           std::shared_ptr<Gate> destroyed = nullptr) {
    return std::make_shared<FakeProvider>(
        name,
        [gate](const std::string& n, Date at, int) {
            gate->wait();
            return idle(n, at);
        },
        std::move(destroyed));
}

std::vector<std::string> providerNames(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> names;
    for (const auto& provider : snapshot.providerSnapshots) names.push_back(provider.providerName);
    return names;
}

double secondsSince(MonotonicClock::time_point start) {
    return std::chrono::duration<double>(MonotonicClock::now() - start).count();
}

using Names = std::vector<std::string>;

// The threads of this process that run scans, found by their name.
size_t detectionThreads() {
    size_t count = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "bl.detection") ++count;
    }
    return count;
}

// Waits until exactly `count` scan threads remain.
bool waitForDetectionThreads(size_t count) {
    const auto start = MonotonicClock::now();
    while (detectionThreads() != count) {
        if (MonotonicClock::now() - start > patience) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class AgentStatusServiceTest : public ::testing::Test {
protected:
    CapturedLog log{CapturedLog::Lines::withDebug}; // the per-refresh lines these tests read
};

} // namespace

TEST_F(AgentStatusServiceTest, EnabledSetSelectsProvidersByExactName) {
    auto codex = quickProvider("Codex");
    auto claude = quickProvider("Claude Code");
    auto hermes = quickProvider("Hermes");
    AgentStatusService service({codex, claude, hermes}, 5);

    auto all = service.snapshot(T);
    EXPECT_EQ(providerNames(all), (Names{"Codex", "Claude Code", "Hermes"}));
    EXPECT_EQ(all.state, AgentRunState::complete);
    EXPECT_EQ(all.checkedAt, T);
    for (const auto& provider : {codex, claude, hermes}) EXPECT_EQ(provider->times(), std::vector<Date>{T});

    auto onlyCodex = service.snapshot(T + 1, std::set<std::string>{"Codex"});
    EXPECT_EQ(providerNames(onlyCodex), Names{"Codex"});
    EXPECT_EQ(codex->times(), (std::vector<Date>{T, T + 1})) << "the provider gets exactly the refresh time";
    EXPECT_EQ(claude->calls(), 1);

    auto lowerCase = service.snapshot(T + 2, std::set<std::string>{"claude code", "Hermes"});
    EXPECT_EQ(providerNames(lowerCase), Names{"Hermes"});
    EXPECT_EQ(claude->calls(), 1);

    auto none = service.snapshot(T + 3, std::set<std::string>{});
    EXPECT_TRUE(none.providerSnapshots.empty());
    EXPECT_TRUE(none.activeSessions.empty());
    EXPECT_EQ(none.state, AgentRunState::complete);
    EXPECT_EQ(none.statusEvidence, "provider scan found no active sessions") << "the newest recorded scan reason";
    EXPECT_EQ(codex->calls(), 2);

    AgentStatusService empty({}, 5);
    auto nothing = empty.snapshot(T);
    EXPECT_TRUE(nothing.providerSnapshots.empty());
    EXPECT_EQ(nothing.statusEvidence, "ledger: no active run evidence after successful provider scan");
}

TEST_F(AgentStatusServiceTest, LogsEachScanAndTheCommittedSnapshot) {
    auto codex = std::make_shared<FakeProvider>("Codex", [](const std::string& n, Date at, int) {
        return ProviderSnapshot::make(n, std::nullopt, std::nullopt,
                                      {session(n, "a", "rollout has pending tool call", at),
                                       session(n, "b", "waiting for approval", at - 1, true)},
                                      0, at, {});
    });
    AgentStatusService service({codex}, 5, 12.0, 1.2);
    EXPECT_EQ(service.stalePreviousStateInterval(), 12.0);
    EXPECT_EQ(service.transientCompleteHoldInterval(), 1.2);
    EXPECT_EQ(service.providerTimeout(), 5.0);
    EXPECT_EQ(AgentStatusService::formatSeconds(5), "5s");
    EXPECT_EQ(AgentStatusService::formatSeconds(2.5), "2.50s");

    auto committed = service.snapshot(T);
    EXPECT_EQ(committed.state, AgentRunState::inProgress);
    ASSERT_EQ(committed.activeSessions.size(), 2u);
    EXPECT_EQ(committed.activeSessions[0].evidenceLeaseExpiresAt, T + 5) << "the service's lease is five seconds";

    const auto records = log->records();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records) {
        EXPECT_EQ(record.category, "Status");
        EXPECT_EQ(record.subsystem, "com.quorvale.Brindleaf");
        EXPECT_EQ(record.level, LogLevel::info);
    }
    EXPECT_EQ(records[0].message, "provider.started name=Codex");
    EXPECT_EQ(records[1].message.rfind("provider.finished name=Codex state=inProgress active=2 elapsedMs=", 0), 0u)
        << records[1].message;
    const auto tail = " evidence=rollout has pending tool call";
    EXPECT_TRUE(records[1].message.ends_with(tail)) << records[1].message;
    EXPECT_EQ(records[2].message, "snapshot.committed state=inProgress active=2 reason=ledger");
}

TEST_F(AgentStatusServiceTest, LateProviderIsSubstitutedThenSingleFlightedThenRescanned) {
    auto gate = std::make_shared<Gate>();
    auto codex = std::make_shared<FakeProvider>("Codex", [gate](const std::string& n, Date at, int call) {
        if (call == 1)
            return ProviderSnapshot::make(n, std::nullopt, std::nullopt,
                                          {session(n, "s1", "rollout has pending tool call", at)}, 4, at,
                                          {"one unreadable rollout"});
        if (call == 2) {
            gate->wait();
            return ProviderSnapshot::make(n, std::nullopt, std::nullopt,
                                          {session(n, "late", "rollout has pending tool call", at)}, 7, at,
                                          {"late error"});
        }
        return idle(n, at);
    });
    // A time limit that a quick scan meets on any machine, however loaded.
    AgentStatusService service({codex}, 2);

    auto first = service.snapshot(T);
    ASSERT_EQ(first.activeSessions.size(), 1u);

    // The second scan hangs: after the time limit the last answer stands in.
    log->clear();
    auto second = service.snapshot(T + 1);
    const std::string timeoutMessage = "Codex detection timed out after 2s; showing last known state.";
    ASSERT_EQ(second.providerSnapshots.size(), 1u);
    const auto& substituted = second.providerSnapshots[0];
    EXPECT_EQ(substituted.errors, (Names{"one unreadable rollout", timeoutMessage}));
    EXPECT_EQ(substituted.ignoredStaleSessions, 4);
    EXPECT_EQ(substituted.checkedAt, T + 1);
    EXPECT_EQ(substituted.state, AgentRunState::inProgress) << "committed from the ledger, never unknown";
    ASSERT_EQ(second.activeSessions.size(), 1u) << "the strong lease from T still runs";
    EXPECT_EQ(second.activeSessions[0].id, "s1");
    auto records = log->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].message, "provider.started name=Codex");
    EXPECT_EQ(records[1].message, "provider.timeout provider=Codex elapsedMs=2000 stateChanged=false healthOnly=true");
    EXPECT_EQ(records[1].level, LogLevel::error);
    EXPECT_EQ(records[2].message, "snapshot.committed state=inProgress active=1 reason=ledger");

    // Still busy: answered at once, no second scan.
    log->clear();
    auto third = service.snapshot(T + 2);
    EXPECT_EQ(codex->calls(), 2);
    EXPECT_EQ(third.providerSnapshots[0].errors,
              (Names{"one unreadable rollout", "Codex detection is still running; showing last known state."}));
    records = log->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].message, "provider.started name=Codex");
    EXPECT_EQ(records[0].level, LogLevel::info);
    EXPECT_EQ(records[1].message, "provider.singleflight provider=Codex stateChanged=false healthOnly=true");
    EXPECT_EQ(records[1].level, LogLevel::error);

    // The late scan returns: it is logged with its full duration and becomes
    // the last answer, but it is never applied to the ledger.
    gate->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Codex state=inProgress active=1 elapsedMs="));
    const auto finished = log->messages();
    const auto line = std::find_if(finished.begin(), finished.end(),
                                   [](const std::string& m) { return m.starts_with("provider.finished"); });
    const long elapsed = std::stol(line->substr(line->find("elapsedMs=") + 10));
    EXPECT_GE(elapsed, 2000);

    // The next call starts a new scan, which here hangs no more.
    auto fourth = service.snapshot(T + 3);
    EXPECT_EQ(codex->calls(), 3);
    EXPECT_EQ(codex->times().back(), T + 3);
    EXPECT_EQ(fourth.providerSnapshots[0].errors, Names{});
    for (const auto& shown : fourth.activeSessions) EXPECT_NE(shown.id, "late");
}

TEST_F(AgentStatusServiceTest, LateScanBecomesTheLastAnswerOfTheNextSubstitute) {
    auto firstGate = std::make_shared<Gate>();
    auto secondGate = std::make_shared<Gate>();
    auto hermes = std::make_shared<FakeProvider>("Hermes", [=](const std::string& n, Date at, int call) {
        if (call == 1) {
            firstGate->wait();
            return ProviderSnapshot::make(n, std::nullopt, std::nullopt,
                                          {session(n, "late", "Hermes pending tool call", at)}, 2, at,
                                          {"gateway_state.json unreadable"});
        }
        secondGate->wait();
        return idle(n, at);
    });
    AgentStatusService service({hermes}, 0.1);
    auto first = service.snapshot(T);
    EXPECT_EQ(first.providerSnapshots[0].errors,
              Names{"Hermes detection timed out after 0.10s; showing last known state."});
    EXPECT_EQ(first.providerSnapshots[0].ignoredStaleSessions, 0);
    EXPECT_TRUE(first.activeSessions.empty());

    firstGate->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Hermes"));
    auto second = service.snapshot(T + 1);
    EXPECT_EQ(hermes->calls(), 2);
    const auto& substituted = second.providerSnapshots[0];
    EXPECT_EQ(substituted.errors, (Names{"gateway_state.json unreadable",
                                         "Hermes detection timed out after 0.10s; showing last known state."}));
    EXPECT_EQ(substituted.ignoredStaleSessions, 2);
    EXPECT_EQ(substituted.checkedAt, T + 1);
    EXPECT_TRUE(second.activeSessions.empty()) << "the late scan's session never reaches the ledger";

    secondGate->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Hermes", 2));
    EXPECT_FALSE(hermes->everOverlapped());
}

TEST_F(AgentStatusServiceTest, TwoHungProvidersCostOneTimeLimit) {
    auto gate = std::make_shared<Gate>();
    auto codex = hungProvider("Codex", gate);
    auto hermes = hungProvider("Hermes", gate);
    auto claude = quickProvider("Claude Code");
    // Waiting for the two limits one after the other would take at least twice
    // the limit; the margin up to that covers any stall of a loaded machine.
    constexpr double limit = 2;
    AgentStatusService service({codex, claude, hermes}, limit);

    const auto start = MonotonicClock::now();
    auto committed = service.snapshot(T);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, 2 * limit) << "each deadline counts from its own start, all scans start before the first wait";
    EXPECT_EQ(log->count("provider.timeout provider=Codex elapsedMs=2000 "), 1u);
    EXPECT_EQ(log->count("provider.timeout provider=Hermes elapsedMs=2000 "), 1u);
    EXPECT_EQ(providerNames(committed), (Names{"Codex", "Claude Code", "Hermes"}));
    EXPECT_EQ(committed.providerSnapshots[1].errors, Names{});

    gate->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Codex"));
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Hermes"));
}

TEST_F(AgentStatusServiceTest, TimeOutMessageKeepsItsDecimalPointUnderAGermanLocale) {
    ScopedGermanLocale german;
    ASSERT_TRUE(german.active()) << german.problem();
    auto gate = std::make_shared<Gate>();
    AgentStatusService service({hungProvider("Codex", gate)}, 0.25);
    EXPECT_EQ(service.snapshot(T).providerSnapshots[0].errors,
              Names{"Codex detection timed out after 0.25s; showing last known state."});
    gate->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished name=Codex"));
}

TEST_F(AgentStatusServiceTest, ScanThatOutlivesTheServiceTouchesNothing) {
    auto gate = std::make_shared<Gate>();
    auto destroyed = std::make_shared<Gate>();
    {
        auto service = std::make_unique<AgentStatusService>(
            std::vector<std::shared_ptr<AgentStatusProvider>>{hungProvider("Codex", gate, destroyed)}, 0.05);
        auto committed = service->snapshot(T);
        EXPECT_EQ(committed.providerSnapshots[0].errors,
                  Names{"Codex detection timed out after 0.05s; showing last known state."});
    }
    EXPECT_FALSE(destroyed->isOpen()) << "the running scan keeps its provider alive";
    gate->open();
    ASSERT_TRUE(destroyed->wait()) << "the worker lets go of the provider when its scan returns";
    EXPECT_EQ(log->count("provider.finished"), 0u);
}

TEST_F(AgentStatusServiceTest, ThrowingProviderIsReportedAndNotLeftBusy) {
    auto codex =
        std::make_shared<FakeProvider>("Codex", [](const std::string& n, Date at, int call) -> ProviderSnapshot {
            if (call == 1) throw std::runtime_error("boom");
            return idle(n, at);
        });
    AgentStatusService service({codex}, 5);
    auto first = service.snapshot(T);
    EXPECT_EQ(first.providerSnapshots[0].errors, Names{"Codex detection failed: boom"});
    auto second = service.snapshot(T + 1);
    EXPECT_EQ(codex->calls(), 2);
    EXPECT_EQ(second.providerSnapshots[0].errors, Names{});
}

TEST(AgentStatusServiceExitDeathTest, ProcessExitsWhileAScanHangs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Logger::setSink(std::make_shared<WaitableLogSink>());
            Logger::setDebugEnabled(true); // the per-refresh lines these tests read
            auto gate = std::make_shared<Gate>();
            AgentStatusService service({hungProvider("Codex", gate)}, 0.05);
            auto committed = service.snapshot(T);
            const bool substituted =
                committed.providerSnapshots.size() == 1 && committed.providerSnapshots[0].errors.size() == 1;
            std::fputs(substituted ? "committed with substitute\n" : "unexpected snapshot\n", stderr);
            std::fflush(stderr);
            _exit(3);
        },
        ::testing::ExitedWithCode(3), "committed with substitute");
}

TEST_F(AgentStatusServiceTest, EachProviderKeepsOneWorkerThatEndsAfterTheService) {
    ASSERT_TRUE(waitForDetectionThreads(0)) << "workers of earlier services are gone";
    auto gate = std::make_shared<Gate>();
    auto destroyed = std::make_shared<Gate>();
    auto codex = quickProvider("Codex");
    auto service = std::make_unique<AgentStatusService>(
        std::vector<std::shared_ptr<AgentStatusProvider>>{codex, hungProvider("Hermes", gate, destroyed)}, 2);
    for (int i = 0; i < 20; ++i) service->snapshot(T + i); // Hermes costs one limit, then is busy
    EXPECT_EQ(codex->calls(), 20);
    EXPECT_EQ(detectionThreads(), 2u) << "one long-lived worker per provider, however many refreshes";

    const auto start = MonotonicClock::now();
    service.reset(); // while the Hermes scan hangs
    EXPECT_LT(secondsSince(start), patience.count() / 2.0) << "the service never waits for a hung scan";

    // The idle worker ends with the service; the hung one only once its scan returns.
    ASSERT_TRUE(waitForDetectionThreads(1));
    EXPECT_FALSE(destroyed->isOpen());
    gate->open();
    ASSERT_TRUE(destroyed->wait());
    ASSERT_TRUE(waitForDetectionThreads(0));
    EXPECT_EQ(codex.use_count(), 1) << "no worker holds a provider once the service is gone";
}
