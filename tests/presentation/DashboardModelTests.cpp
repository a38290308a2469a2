// The dashboard model's rules over a real settings store, a fake folder-access
// controller and a manual main queue.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/SampleStatusSnapshot.hpp"
#include "presentation/ScreenshotMode.hpp"
#include "presentation/SettingsPane.hpp"
#include "presentation/StatusDashboardModel.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>

using namespace brindleaf;

namespace {

class FakeFolderAccess final : public FolderAccessQuery {
public:
    std::set<std::string> missing;
    std::set<std::string> granted;
    bool hasMissingFolders(const std::string& id) const override { return missing.count(id) > 0; }
    bool hasAccess(const std::string& id) const override { return granted.count(id) > 0; }
};

ProviderSnapshot provider(const std::string& name, std::vector<AgentSession> sessions, std::int64_t stale) {
    return ProviderSnapshot::make(name, std::nullopt, std::nullopt, std::move(sessions), stale, 100, {});
}

AgentSession session(const std::string& provider, bool waiting) {
    return AgentSession(
        {.id = provider + (waiting ? "-w" : "-r"), .provider = provider, .needsUserAttention = waiting});
}

struct Fixture {
    ManualMainQueue queue;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("model-tests");
    std::shared_ptr<ProviderSettingsStore> settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::shared_ptr<FakeFolderAccess> access = std::make_shared<FakeFolderAccess>();
    std::unique_ptr<StatusDashboardModel> model;

    explicit Fixture(AgentStatusSnapshot snapshot = {}, ClearedStaleBaselines baselines = {}) {
        model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings, access,
                                                       std::move(baselines), ProviderCatalog::all());
    }
    const ProviderDescriptor& descriptor(const std::string& id) {
        for (const auto& p : ProviderCatalog::all())
            if (p.id == id) return p;
        throw std::runtime_error(id);
    }
};

// Snapshots equal in every field.
bool same(const AgentStatusSnapshot& a, const AgentStatusSnapshot& b) {
    if (a.state != b.state || a.statusEvidence != b.statusEvidence || a.activeSessions != b.activeSessions ||
        a.checkedAt != b.checkedAt || a.providerSnapshots.size() != b.providerSnapshots.size())
        return false;
    for (std::size_t i = 0; i < a.providerSnapshots.size(); ++i) {
        const auto &x = a.providerSnapshots[i], &y = b.providerSnapshots[i];
        if (x.providerName != y.providerName || x.state != y.state || x.statusEvidence != y.statusEvidence ||
            x.activeSessions != y.activeSessions || x.ignoredStaleSessions != y.ignoredStaleSessions ||
            x.checkedAt != y.checkedAt || x.errors != y.errors || x.runEvidence != y.runEvidence)
            return false;
    }
    return true;
}

} // namespace

TEST(SampleStatusSnapshot, FollowsTheRealCheckTime) {
    const auto sample = makeSampleStatusSnapshot(5000);
    EXPECT_TRUE(same(sample, makeSampleStatusSnapshot(5000)));
    EXPECT_FALSE(same(sample, makeSampleStatusSnapshot(5001)));
    EXPECT_EQ(sample.checkedAt, 5000);
    EXPECT_EQ(sample.state, AgentRunState::inProgress);
    ASSERT_EQ(sample.activeSessions.size(), 3u);
    EXPECT_EQ(sample.activeSessions[0].lastActivityAt, 5000 - 12);
    EXPECT_EQ(sample.activeSessions[2].lastActivityAt, 5000 - 95);
    EXPECT_FALSE(sample.activeSessions[2].resourceUsage);
    EXPECT_EQ(sample.activeSessions[2].runtimeProfile->model, "claude-opus-5");
    EXPECT_EQ(sample.statusEvidence, "rollout has pending tool call");
    ASSERT_EQ(sample.providerSnapshots.size(), 3u);
    EXPECT_EQ(sample.providerSnapshots[1].ignoredStaleSessions, 1);
    EXPECT_EQ(sample.providerSnapshots[2].state, AgentRunState::complete);

    Fixture f(AgentStatusSnapshot::make({}, 5000));
    f.settings->setShowingSampleData(true);
    EXPECT_TRUE(same(f.model->displaySnapshot(), sample));
    EXPECT_EQ(f.model->activityState(), StatusWording::Mood::working);
    EXPECT_EQ(f.model->activeSessionCount(f.descriptor("claude")), 2);
    EXPECT_EQ(f.model->activeSessionCount(f.descriptor("codex")), 1);
    EXPECT_EQ(f.model->providerSnapshot(f.descriptor("hermes"))->state, AgentRunState::complete);
    EXPECT_EQ(f.model->hiddenStaleCount(), 1);
    EXPECT_FALSE(f.model->needsAccess(f.descriptor("codex")));
    // A new real snapshot moves the sample on.
    f.model->setSnapshot(AgentStatusSnapshot::make({}, 6000));
    EXPECT_EQ(f.model->displaySnapshot().activeSessions[0].lastActivityAt, 6000 - 12);
}

TEST(StatusDashboardModel, MoodProvidersAndAccess) {
    Fixture f(AgentStatusSnapshot::make({provider("codex", {session("CODEX", true)}, 0)}, 100));
    EXPECT_EQ(f.model->activityState(), StatusWording::Mood::waiting);
    // Names match ignoring letter case.
    EXPECT_EQ(f.model->activeSessionCount(f.descriptor("codex")), 1);
    EXPECT_TRUE(f.model->providerSnapshot(f.descriptor("codex")));
    EXPECT_FALSE(f.model->providerSnapshot(f.descriptor("claude")));
    f.model->setSnapshot(AgentStatusSnapshot::make({}, 100));
    EXPECT_EQ(f.model->activityState(), StatusWording::Mood::idle);
    // A refresh that could read no agent.
    f.model->setSnapshot(AgentStatusSnapshot::make({}, 100, AgentRunState::unknown));
    EXPECT_EQ(f.model->activityState(), StatusWording::Mood::unavailable);
    f.settings->setShowingSampleData(true);
    EXPECT_EQ(f.model->activityState(), StatusWording::Mood::working);
    f.settings->setShowingSampleData(false);

    f.access->missing = {"codex", "claude"};
    f.access->granted = {"claude"};
    EXPECT_TRUE(f.model->needsAccess(f.descriptor("codex")));
    EXPECT_FALSE(f.model->needsAccess(f.descriptor("claude")));
    EXPECT_FALSE(f.model->needsAccess(f.descriptor("hermes")));

    f.settings->setProvider(false, f.descriptor("codex"));
    std::vector<std::string> visible;
    for (const auto& p : f.model->visibleProviders()) visible.push_back(p.id);
    EXPECT_EQ(visible, (std::vector<std::string>{"claude", "hermes"}));
}

TEST(StatusDashboardModel, HiddenStaleCountsAgainstBaselines) {
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    struct Case {
        std::int64_t codexStale, claudeStale;
        ClearedStaleBaselines baselines;
        std::int64_t expected;
    } cases[] = {
        {2, 3, {}, 5},
        {2, 3, {{"claude code", 1}}, 4},
        {2, 3, {{"claude code", 9}}, 2}, // a larger baseline gives 0, not a negative count
        {top, top, {}, top},             // saturates
        {top, 1, {{"codex", -5}}, top},
    };
    for (const auto& c : cases) {
        Fixture f(AgentStatusSnapshot::make(
                      {provider("Codex", {}, c.codexStale), provider(" Claude Code\n", {}, c.claudeStale)}, 100),
                  c.baselines);
        EXPECT_EQ(f.model->hiddenStaleCount(), c.expected);
    }
}

TEST(StatusDashboardModel, ClearingStoresTheRealSnapshotsCounts) {
    Fixture f(AgentStatusSnapshot::make({provider("Codex", {}, 2), provider("Hermes", {}, 0)}, 100),
              {{"hermes", 4}, {"claude code", 7}});
    int cleared = 0;
    f.model->actions.onSignalHealthClear = [&] { ++cleared; };
    f.settings->setShowingSampleData(true);
    f.model->clearStaleBaselines();
    const ClearedStaleBaselines expected{{"codex", 2}, {"hermes", 4}, {"claude code", 7}};
    EXPECT_EQ(f.model->clearedStaleBaselines(), expected);
    EXPECT_EQ(loadClearedStaleBaselines(*f.defaults), expected);
    EXPECT_EQ(cleared, 1);
    // The sample's own stale session is still counted against the real baselines.
    f.model->clearStaleBaselines();
    EXPECT_EQ(f.model->hiddenStaleCount(), 0);
}

TEST(StatusDashboardModel, SpinnerBelongsToTheNewestManualRefresh) {
    Fixture f;
    const auto first = f.model->beginManualRefresh();
    const auto second = f.model->beginManualRefresh();
    EXPECT_TRUE(f.model->isRefreshing());
    f.model->finishRefresh(first);
    f.queue.advance(1);
    EXPECT_TRUE(f.model->isRefreshing());
    f.model->finishRefresh(second);
    f.queue.advance(0.39);
    EXPECT_TRUE(f.model->isRefreshing());
    f.queue.advance(0.02);
    EXPECT_FALSE(f.model->isRefreshing());

    // A refresh begun while the linger runs keeps the spinner on.
    const auto third = f.model->beginManualRefresh();
    f.model->finishRefresh(third);
    const auto fourth = f.model->beginManualRefresh();
    f.queue.advance(1);
    EXPECT_TRUE(f.model->isRefreshing());
    f.model->finishRefresh(fourth);
    // The model may go before its delayed step runs.
    f.model.reset();
    f.queue.advance(1);
}

TEST(StatusDashboardModel, ObserversReadTheNewValueOnTheNextTurn) {
    Fixture f;
    std::vector<std::pair<StatusDashboardModel::Property, bool>> heard;
    f.model->addObserver([&](StatusDashboardModel::Property property) {
        heard.emplace_back(property, f.model->displaySnapshot().activeSessions.size() == 3);
    });
    f.settings->setShowingSampleData(true);
    EXPECT_TRUE(heard.empty());
    f.queue.drain();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].first, StatusDashboardModel::Property::displayedSettings);
    EXPECT_TRUE(heard[0].second);
}

TEST(SettingsPane, RawValues) {
    EXPECT_EQ(settingsPaneFromString("diagnostics"), SettingsPane::diagnostics);
    EXPECT_EQ(settingsPaneFromString("iCloud"), SettingsPane::iCloud);
    EXPECT_EQ(settingsPaneFromString("Diagnostics"), std::nullopt);
    EXPECT_EQ(settingsPaneFromString(""), std::nullopt);
    EXPECT_EQ(toString(allSettingsPanes.front()), "general");
    EXPECT_TRUE(screenshotModeFromArguments({"brindleaf", "--screenshot-mode"}));
    EXPECT_FALSE(screenshotModeFromArguments({"brindleaf", "--screenshot-mode=1"}));
}
