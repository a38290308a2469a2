#include "core/AgentStatusProvider.hpp"
#include "core/AgentStatusService.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "tests/support/CapturedLog.hpp"
#include "tests/support/Gate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

using namespace brindleaf;
using namespace std::chrono_literals;
using brindleaf::testing::CapturedLog;
using brindleaf::testing::Gate;

namespace {

constexpr Date T = 1'780'000'000;

using Names = std::vector<std::string>;

// Answers each scan from a script; a scan without an answer waits for the gate.
struct ScriptedAnswer {
    int64_t ignored;
    std::vector<std::string> errors;
};

class ScriptedProvider final : public AgentStatusProvider {
public:
    ScriptedProvider(std::vector<ScriptedAnswer> script, std::shared_ptr<Gate> gate)
        : script_(std::move(script)), gate_(std::move(gate)) {}
    std::string name() const override { return "Codex"; }
    ProviderSnapshot snapshot(Date at) override {
        size_t call;
        {
            std::lock_guard guard(mutex_);
            call = calls_++;
        }
        if (call >= script_.size() || script_[call].ignored < 0) gate_->wait();
        const ScriptedAnswer answer = call < script_.size() ? script_[call] : ScriptedAnswer{0, {}};
        return ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, std::max<int64_t>(answer.ignored, 0), at,
                                      answer.errors);
    }

private:
    std::vector<ScriptedAnswer> script_;
    std::shared_ptr<Gate> gate_;
    std::mutex mutex_;
    size_t calls_ = 0;
};

class LastAnswerTest : public ::testing::Test {
protected:
    CapturedLog log{CapturedLog::Lines::withDebug}; // the per-refresh lines these tests read
};

} // namespace

// A late provider is stood in for by its latest answer, however often that
// answer's errors and ignored count changed or stayed the same before.
TEST_F(LastAnswerTest, TheSubstituteAlwaysCarriesTheLatestAnswer) {
    auto firstHang = std::make_shared<Gate>();
    auto provider = std::make_shared<ScriptedProvider>(
        std::vector<ScriptedAnswer>{{1, {"e1"}},
                                    {1, {"e1"}},
                                    {5, {"e2", "e3"}},
                                    {-1, {"late answer"}}, // waits, then answers after its deadline
                                    {0, {}},
                                    {0, {}}},
        firstHang);
    // A time limit that the answered scans meet on any machine, however loaded.
    AgentStatusService service({provider}, 1);
    const std::string timeout = "Codex detection timed out after 1s; showing last known state.";

    service.snapshot(T);
    service.snapshot(T + 1);
    auto third = service.snapshot(T + 2);
    EXPECT_EQ(third.providerSnapshots.at(0).errors, (Names{"e2", "e3"}));

    auto late = service.snapshot(T + 3);
    EXPECT_EQ(late.providerSnapshots.at(0).errors, (Names{"e2", "e3", timeout}));
    EXPECT_EQ(late.providerSnapshots.at(0).ignoredStaleSessions, 5);

    // While the late scan still runs, the next refresh is answered at once from the same answer.
    auto busy = service.snapshot(T + 4);
    EXPECT_EQ(busy.providerSnapshots.at(0).errors,
              (Names{"e2", "e3", "Codex detection is still running; showing last known state."}));

    // The late scan's answer, once in, is the one that stands in next.
    firstHang->open();
    ASSERT_TRUE(log->waitForPrefix("provider.finished", 4));
    auto fifth = service.snapshot(T + 5);
    EXPECT_TRUE(fifth.providerSnapshots.at(0).errors.empty());
    service.snapshot(T + 6);

    // Answers that change only their errors, or only their ignored count,
    // are stood in for as they last were.
    std::vector<std::unique_ptr<AgentStatusService>> others; // kept until their late scans have logged
    const auto substituteAfter = [&](std::vector<ScriptedAnswer> script) {
        auto gate = std::make_shared<Gate>();
        const size_t answered = script.size();
        script.push_back({-1, {}});
        auto& other = others.emplace_back(std::make_unique<AgentStatusService>(
            std::vector<std::shared_ptr<AgentStatusProvider>>{std::make_shared<ScriptedProvider>(script, gate)}, 1));
        for (size_t i = 0; i < answered; ++i) other->snapshot(T + static_cast<Date>(i));
        ProviderSnapshot substitute = other->snapshot(T + 10).providerSnapshots.at(0);
        gate->open();
        return substitute;
    };
    auto substitute = substituteAfter({{2, {"only error"}}, {2, {}}});
    EXPECT_EQ(substitute.errors, (Names{timeout})) << "no stale error from the first answer";
    substitute = substituteAfter({{2, {"same error"}}, {7, {"same error"}}});
    EXPECT_EQ(substitute.errors, (Names{"same error", timeout}));
    EXPECT_EQ(substitute.ignoredStaleSessions, 7);
    substitute = substituteAfter({{3, {"a"}}, {3, {"b"}}, {3, {"b"}}});
    EXPECT_EQ(substitute.errors, (Names{"b", timeout}));
    EXPECT_EQ(substitute.ignoredStaleSessions, 3);
    ASSERT_TRUE(log->waitForPrefix("provider.finished", 16));

    // "provider.finished name=Codex state=<state> active=0 elapsedMs=<digits> evidence=<text>"
    const auto wellFormed = [](const std::string& message) {
        std::string_view rest = message;
        const auto take = [&](std::string_view text) {
            if (!rest.starts_with(text)) return false;
            rest.remove_prefix(text.size());
            return true;
        };
        if (!take("provider.finished name=Codex state=")) return false;
        if (!take("unknown") && !take("complete")) return false;
        if (!take(" active=0 elapsedMs=")) return false;
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        if (digits == 0) return false;
        rest.remove_prefix(digits);
        return take(" evidence=");
    };
    size_t checked = 0;
    for (const auto& message : log->messages()) {
        if (message.rfind("provider.finished", 0) != 0) continue;
        EXPECT_TRUE(wellFormed(message)) << message;
        ++checked;
    }
    EXPECT_EQ(checked, 16u);
    const auto messages = log->messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "snapshot.committed state=complete active=0 reason=ledger"),
              messages.end());
}
