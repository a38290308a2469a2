#include "StatusBarControllerFakes.hpp"

#include "core/ProviderCatalog.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

std::vector<std::string> providerNames(const AgentStatusSnapshot& snapshot) {
    std::vector<std::string> names;
    for (const auto& provider : snapshot.providerSnapshots) names.push_back(provider.providerName);
    return names;
}

} // namespace

TEST(StatusBarController, StartsInOrderAndRefreshesOnlyTheEnabledReadableAgents) {
    ControllerRig rig;
    rig.folderAccess->denied = {"claude"}; // sandboxed without a grant for ~/.claude
    rig.start();
    EXPECT_EQ(rig.surface->reloads, 1);
    EXPECT_EQ(rig.messages("refresh.requested"),
              std::vector<std::string>{"refresh.requested reason=unspecified enabled=Codex,Hermes"});
    ASSERT_EQ(rig.surface->rendered.size(), 1u);
    EXPECT_EQ(providerNames(rig.controller->snapshot()), (std::vector<std::string>{"Codex", "Hermes"}));
    EXPECT_EQ(rig.dashboard->published.size(), 1u);
    EXPECT_EQ(rig.count("render.applied state=complete active=0"), 1u);
}

// Polling starts before the watch lists are built, and hot key 1 is registered
// before hot key 2; the first refresh comes last.
TEST(StatusBarController, BuildsPollingThenWatchesThenHotKeysInOrder) {
    ControllerRig rig;
    std::vector<std::string> steps;
    rig.dependencies.background = [&](std::function<void()> job) {
        steps.push_back("background delayed=" + std::to_string(rig.queue->delayedCount()));
        job();
    };
    rig.popoverHotkey->onRegister = [&] { steps.push_back("hot key 1"); };
    rig.windowHotkey->onRegister = [&] { steps.push_back("hot key 2"); };
    rig.start();
    // The watch listing sees the poll timer; the first load also sees its time-out.
    EXPECT_EQ(steps,
              (std::vector<std::string>{"background delayed=1", "hot key 1", "hot key 2", "background delayed=2"}));
    EXPECT_EQ(rig.messages("refresh.requested"),
              std::vector<std::string>{"refresh.requested reason=unspecified enabled=Claude Code,Codex,Hermes"});
}

TEST(StatusBarController, WithNothingReadableARefreshStillCommitsAnEmptySnapshot) {
    ControllerRig rig;
    rig.folderAccess->denied = {"codex", "claude", "hermes"};
    rig.start();
    EXPECT_EQ(rig.messages("refresh.requested"),
              std::vector<std::string>{"refresh.requested reason=unspecified enabled="});
    ASSERT_EQ(rig.surface->rendered.size(), 1u);
    EXPECT_TRUE(rig.controller->snapshot().providerSnapshots.empty());
    EXPECT_EQ(rig.count("refresh.finished id=1"), 1u);
}

TEST(StatusBarController, OnlyLaterSettingChangesAct) {
    ControllerRig rig;
    rig.start();
    EXPECT_EQ(rig.count("refresh.requested"), 1u);
    ASSERT_EQ(rig.popoverHotkey->registered.size(), 1u);
    EXPECT_EQ(rig.popoverHotkey->registered[0], ProviderSettingsStore::defaultToggleShortcut);
    EXPECT_EQ(rig.windowHotkey->registered.size(), 1u);

    HotkeyShortcut changed{49, HotkeyShortcut::commandModifier | HotkeyShortcut::shiftModifier};
    ASSERT_EQ(rig.dependencies.settings->updateToggleShortcut(changed), ShortcutChangeResult::accepted);
    rig.queue->drain();
    EXPECT_EQ(rig.popoverHotkey->registered.back(), changed);
    EXPECT_EQ(rig.windowHotkey->registered.size(), 1u);

    rig.dependencies.settings->setProvider(false, ProviderCatalog::all()[2]);
    rig.queue->drain();
    EXPECT_EQ(rig.messages("refresh.requested").back(), "refresh.requested reason=settings enabled=Claude Code,Codex");

    rig.dependencies.settings->setIconStyle(StatusIconStyle::cloud);
    rig.queue->drain();
    EXPECT_EQ(rig.surface->reloads, 2);

    rig.dependencies.settings->setShowingSampleData(true);
    rig.queue->drain();
    EXPECT_EQ(rig.dashboard->announcements, 1);

    rig.folderAccess->onChange();
    rig.queue->drain();
    EXPECT_EQ(rig.messages("refresh.requested").back(),
              "refresh.requested reason=folder-access enabled=Claude Code,Codex");
    EXPECT_EQ(rig.fileWatcher->watchCalls(), 2u);
}

TEST(StatusBarController, PollsAfterOnePointTwoSecondsWithSessionsAndThreePointSevenWithout) {
    struct Case {
        bool sessions;
        double otherRequestAt; // seconds after start
        std::vector<double> pollsAt;
    };
    for (const auto& c :
         {Case{true, 2.75, {1.5, 4.5, 6.0}}, Case{true, 1.75, {1.5, 3.0, 4.5}}, Case{true, 1.875, {1.5, 4.5, 6.0}},
          Case{false, 0.75, {4.5, 9.0}}, Case{false, 0.875, {6.0}}}) {
        ControllerRig rig;
        if (c.sessions) rig.codex->setSessions({{"s1", "/tmp/s1.jsonl"}});
        rig.start();
        std::vector<double> polls;
        for (double t = 0.125; t <= 9.0; t += 0.125) {
            rig.queue->advance(0.125);
            if (t == c.otherRequestAt) rig.controller->requestRefresh("menu");
            if (rig.count("refresh.requested reason=poll") > polls.size()) polls.push_back(t);
        }
        if (c.pollsAt.size() < polls.size()) polls.resize(c.pollsAt.size());
        EXPECT_EQ(polls, c.pollsAt) << "sessions=" << c.sessions << " other=" << c.otherRequestAt;
    }
}

TEST(StatusBarController, AWallClockSetBackDoesNotStallPolling) {
    ControllerRig rig;
    rig.codex->setSessions({{"s1", "/tmp/s1.jsonl"}});
    rig.start();
    rig.wallClockOffset -= 3600;
    rig.queue->advance(1.5);
    rig.queue->advance(1.5);
    EXPECT_EQ(rig.count("refresh.requested reason=poll"), 2u);
}

TEST(StatusBarController, AManualRefreshThatTimesOutStillEndsTheSpinner) {
    ControllerRig rig(/*held=*/true);
    rig.start();
    rig.heldRunner.runAll();
    rig.queue->drain();
    rig.controller->requestManualRefresh();
    EXPECT_EQ(rig.dashboard->generation, 1);
    rig.queue->advance(30);
    EXPECT_EQ(rig.count("refresh.timeout reason=manual"), 1u);
    EXPECT_EQ(rig.dashboard->finished, std::vector<std::int64_t>{1});
    EXPECT_EQ(rig.surface->rendered.size(), 1u); // the previous snapshot stays
}

TEST(StatusBarController, LogsAStateChangeOncePerChange) {
    ControllerRig rig;
    rig.start();
    rig.codex->setSessions({{"s1", "/tmp/s1.jsonl"}});
    rig.controller->requestRefresh("menu");
    rig.queue->drain();
    rig.controller->requestRefresh("menu");
    rig.queue->drain();
    EXPECT_EQ(rig.messages("state.changed"),
              std::vector<std::string>{"state.changed from=complete to=inProgress active=1 evidence=writing code"});
    // Same rollout paths twice: the session watcher was armed once for them
    // (after once for the session registry folder alone, at the first refresh).
    const std::string registry = "/nonexistent-home/.claude/sessions";
    EXPECT_EQ(rig.sessionWatcher->lists,
              (std::vector<std::vector<std::string>>{{registry}, {registry, "/tmp/s1.jsonl"}}));
}

TEST(StatusBarController, EveryAppliedSnapshotGoesToCloudSyncAndSwitchingItOnSubmitsAtOnce) {
    ControllerRig rig;
    rig.start();
    EXPECT_EQ(rig.cloudStore->saves, 1);
    rig.dependencies.settings->setCloudSyncEnabled(false);
    rig.queue->drain();
    EXPECT_EQ(rig.cloudStore->deletes, 1);
    EXPECT_EQ(rig.cloudStore->saves, 1);
    rig.dependencies.settings->setCloudSyncEnabled(true);
    rig.queue->drain();
    EXPECT_EQ(rig.cloudStore->saves, 2); // the current snapshot, without a refresh
    EXPECT_EQ(rig.count("refresh.requested"), 1u);
}
