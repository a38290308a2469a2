#include "sync/StatusCloudSyncController.hpp"

#include "platform/AtomicFileSpaceLimit.hpp"
#include "platform/CloudRecordStoreDisk.hpp"
#include "platform/CloudRecordStoreFake.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "sync/CloudKitStatusStore.hpp"
#include "sync/CloudKitStatusStoreError.hpp"
#include "tests/support/DrainUntil.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/sync/PayloadFixtures.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

// A store that records its calls; failures are queued per operation.
class RecordingStore final : public StatusCloudSyncStore {
public:
    void save(const StatusPayload& payload) override {
        std::lock_guard lock(mutex);
        saved.push_back(payload);
        failIfQueued(saveFailures);
    }
    void ensureSubscription() override {
        std::lock_guard lock(mutex);
        ++subscriptionCalls;
        failIfQueued(subscriptionFailures);
    }
    void deleteStatus() override {
        std::lock_guard lock(mutex);
        ++deleteCalls;
        failIfQueued(deleteFailures);
    }

    std::mutex mutex;
    std::vector<StatusPayload> saved;
    int subscriptionCalls = 0;
    int deleteCalls = 0;
    std::deque<CloudRecordStoreError> saveFailures, subscriptionFailures, deleteFailures;

private:
    static void failIfQueued(std::deque<CloudRecordStoreError>& failures) {
        if (failures.empty()) return;
        auto error = failures.front();
        failures.pop_front();
        throw error;
    }
};

// Background work that runs only when the test says so.
struct DeferredWork {
    std::deque<std::function<void()>> jobs;
    StatusCloudSyncController::BackgroundRunner runner() {
        return [this](std::function<void()> job) { jobs.push_back(std::move(job)); };
    }
    bool runNext() {
        if (jobs.empty()) return false;
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
        return true;
    }
};

class SyncControllerTest : public ::testing::Test {
protected:
    void SetUp() override { Logger::setSink(log); }
    void TearDown() override { Logger::setSink(nullptr); }

    std::shared_ptr<StatusCloudSyncController> makeController(std::shared_ptr<StatusCloudSyncStore> withStore) {
        StatusCloudSyncController::Options options;
        options.mainQueue = mainQueue;
        options.store = std::move(withStore);
        options.background = work.runner();
        options.clock = [this] { return clock; };
        options.deviceName = [] { return std::string("Desk"); };
        return StatusCloudSyncController::make(std::move(options));
    }

    // Runs background jobs and main-queue completions until both are idle.
    void settle() {
        while (work.runNext() || mainQueue->drain() > 0) {
        }
    }

    static AgentStatusSnapshot snapshot(const std::string& title, Date at) {
        return snapshotOf({providerOf("Codex", {runningSession("s1", "Codex", title)}, 0, {}, at)}, at);
    }

    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<ManualMainQueue> mainQueue = std::make_shared<ManualMainQueue>();
    DeferredWork work;
    std::shared_ptr<RecordingStore> store = std::make_shared<RecordingStore>();
    Date clock = 5000;
};

} // namespace

TEST_F(SyncControllerTest, SavesOnChangeOrAfterTwentySecondsOfCheckTime) {
    auto controller = makeController(store);
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    settle();
    controller->submit(snapshot("A", referenceDate + 19.9), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->saved.size(), 1u);
    controller->submit(snapshot("B", referenceDate + 5), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->saved.size(), 2u);
    controller->submit(snapshot("B", referenceDate + 25), rawStaleSessionSource());
    settle();
    ASSERT_EQ(store->saved.size(), 3u);
    EXPECT_EQ(store->saved[2].checkedAt, referenceDate + 25);
    EXPECT_EQ(store->saved[2].deviceID, "Desk");
    EXPECT_EQ(controller->mirrorHealth().latestSubmittedGeneration, 3);
    EXPECT_EQ(controller->mirrorHealth().lastSucceededGeneration, 3);
    EXPECT_EQ(controller->mirrorHealth().lastSucceededAt, 5000);
}

TEST_F(SyncControllerTest, OneSaveInFlightAndTheNewestWaitingPayloadWins) {
    auto controller = makeController(store);
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    controller->submit(snapshot("B", referenceDate + 1), rawStaleSessionSource());
    controller->submit(snapshot("C", referenceDate + 2), rawStaleSessionSource());
    controller->submit(snapshot("D", referenceDate + 3), rawStaleSessionSource());
    EXPECT_EQ(work.jobs.size(), 1u);
    ASSERT_TRUE(controller->pendingSync().has_value());
    EXPECT_EQ(controller->pendingSync()->generation, 4);

    work.runNext(); // A lands
    mainQueue->drain();
    // A's success is stale (generation 1 of 4): nothing recorded, D goes next.
    EXPECT_FALSE(controller->lastSavedSignature().has_value());
    EXPECT_FALSE(controller->mirrorHealth().lastSucceededGeneration.has_value());
    EXPECT_TRUE(controller->isSaving());
    settle();
    ASSERT_EQ(store->saved.size(), 2u);
    EXPECT_EQ(store->saved[0].sessions[0].title, "A");
    EXPECT_EQ(store->saved[1].sessions[0].title, "D");
    EXPECT_EQ(controller->mirrorHealth().lastSucceededGeneration, 4);
}

TEST_F(SyncControllerTest, FailureIsRecordedLoggedAndClearedByALaterSuccess) {
    auto controller = makeController(store);
    store->saveFailures.push_back(CloudRecordStoreError(CloudErrorCode::networkUnavailable, "The network is down"));
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    settle();
    auto health = controller->mirrorHealth();
    EXPECT_EQ(health.lastFailedGeneration, 1);
    EXPECT_EQ(health.lastFailureMessage, "Connect to the internet to update the status.");
    EXPECT_EQ(health.lastFailureDescription, "CloudRecordStoreError(code=3 networkUnavailable): The network is down");
    EXPECT_EQ(health.lastFailureAt, 5000);
    EXPECT_EQ(store->subscriptionCalls, 0);
    auto messages = log->messages();
    EXPECT_NE(
        std::find(
            messages.begin(), messages.end(),
            "Brindleaf CloudKit sync failed: CloudRecordStoreError(code=3 networkUnavailable): The network is down"),
        messages.end());

    clock = 6000;
    controller->submit(snapshot("A", referenceDate + 1), rawStaleSessionSource()); // same content: still saved
    settle();
    health = controller->mirrorHealth();
    EXPECT_EQ(store->saved.size(), 2u);
    EXPECT_EQ(health.lastFailedGeneration, 1);
    EXPECT_FALSE(health.lastFailureMessage || health.lastFailureDescription || health.lastFailureAt);
    EXPECT_EQ(health.lastSucceededGeneration, 2);
    EXPECT_EQ(health.lastSucceededAt, 6000);
}

TEST_F(SyncControllerTest, SubscriptionIsRetriedAfterTheNextSaveUntilItSucceedsOnce) {
    auto controller = makeController(store);
    store->subscriptionFailures.push_back(CloudRecordStoreError(CloudErrorCode::zoneBusy));
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->subscriptionCalls, 1);
    EXPECT_FALSE(controller->didEnsureSubscription());
    auto messages = log->messages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(),
                  "Brindleaf CloudKit subscription setup failed: CloudRecordStoreError(code=23 zoneBusy): Zone busy"),
        messages.end());
    controller->submit(snapshot("B", referenceDate), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->subscriptionCalls, 2);
    EXPECT_TRUE(controller->didEnsureSubscription());
    controller->submit(snapshot("C", referenceDate), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->subscriptionCalls, 2);
    EXPECT_EQ(store->saved.size(), 3u);
}

TEST_F(SyncControllerTest, DisablingDeletesAndEnablingSavesTheNextSubmitAtOnce) {
    auto controller = makeController(store);
    int changes = 0;
    controller->setOnChange([&] { ++changes; });
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    settle();
    controller->setEnabled(true); // same value: nothing
    settle();
    EXPECT_EQ(store->deleteCalls, 0);

    controller->setEnabled(false);
    settle();
    EXPECT_FALSE(controller->isEnabled());
    EXPECT_EQ(store->deleteCalls, 1);
    controller->submit(snapshot("B", referenceDate + 1), rawStaleSessionSource());
    settle();
    EXPECT_EQ(store->saved.size(), 1u);

    controller->setEnabled(true);
    controller->submit(snapshot("A", referenceDate + 2), rawStaleSessionSource()); // unchanged content
    settle();
    EXPECT_EQ(store->saved.size(), 2u);
    EXPECT_GT(changes, 0);

    store->deleteFailures.push_back(CloudRecordStoreError(CloudErrorCode::notAuthenticated));
    controller->setEnabled(false);
    settle();
    auto health = controller->mirrorHealth();
    EXPECT_EQ(health.lastFailureMessage, "Sign in to the status record store on this computer to see its status.");
    EXPECT_FALSE(health.lastFailedGeneration.has_value());
}

TEST_F(SyncControllerTest, DisablingClearsTheWaitingPayload) {
    auto controller = makeController(store);
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    controller->submit(snapshot("B", referenceDate), rawStaleSessionSource());
    controller->setEnabled(false);
    EXPECT_FALSE(controller->pendingSync().has_value());
    settle();
    ASSERT_EQ(store->saved.size(), 1u);
    EXPECT_EQ(store->saved[0].sessions[0].title, "A");
    EXPECT_FALSE(controller->mirrorHealth().lastSucceededGeneration.has_value()); // landed after switching off
}

TEST_F(SyncControllerTest, ASaveLandingAfterTheDeleteIsDeletedAgain) {
    auto records = std::make_shared<CloudRecordStoreFake>();
    auto cloud = std::make_shared<CloudKitStatusStore>(CloudKitStatusConfiguration::standard(), records);
    auto controller = makeController(cloud);
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    ASSERT_EQ(work.jobs.size(), 1u); // the save, not yet run
    controller->setEnabled(false);
    ASSERT_EQ(work.jobs.size(), 2u); // the delete
    // The delete overtakes the save.
    auto save = std::move(work.jobs.front());
    work.jobs.pop_front();
    work.runNext();
    save();
    EXPECT_TRUE(records->record("current").has_value());
    settle();
    EXPECT_FALSE(records->record("current").has_value());
    EXPECT_EQ(records->callCount(CloudRecordStoreFake::Operation::deleteRecord), 2u);
}

TEST_F(SyncControllerTest, CompletionsAfterTheControllerIsGoneDoNothing) {
    auto controller = makeController(store);
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    controller.reset();
    settle();
    EXPECT_EQ(store->saved.size(), 1u);
    EXPECT_EQ(store->subscriptionCalls, 0);
}

TEST_F(SyncControllerTest, WithoutEntitlementThereIsNoStoreAndSubmitsAreIgnored) {
    // The test executable has no entitlements file beside it.
    StatusCloudSyncController::Options options;
    options.mainQueue = mainQueue;
    options.background = work.runner();
    auto controller = StatusCloudSyncController::make(std::move(options));
    EXPECT_FALSE(controller->hasStore());
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    controller->setEnabled(false);
    settle();
    EXPECT_EQ(controller->mirrorHealth(), StatusCloudSyncHealth{});
    auto messages = log->messages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), "Brindleaf CloudKit sync disabled: missing CloudKit entitlement."),
        messages.end());
}

TEST_F(SyncControllerTest, DefaultWorkerRunsStoreCallsOffTheMainQueue) {
    StatusCloudSyncController::Options options;
    options.mainQueue = mainQueue;
    options.store = store;
    auto controller = StatusCloudSyncController::make(std::move(options));
    controller->submit(snapshot("A", referenceDate), rawStaleSessionSource());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!controller->didEnsureSubscription() && std::chrono::steady_clock::now() < deadline) {
        mainQueue->drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(controller->didEnsureSubscription());
    EXPECT_EQ(controller->mirrorHealth().lastSucceededGeneration, 1);
}

// The settings store and the sync controller on one full disk, joined the way
// the status bar controller joins them: a change of the sync setting switches
// the controller in a main-queue job, and every applied refresh prunes.
TEST_F(SyncControllerTest, OnAFullDiskSyncSwitchedOffStaysOffAndTheSettingReachesTheFileWhenRoomFrees) {
    TempDir dir;
    AtomicFileSpaceLimit disk(dir.path(), 1 << 20);
    auto records = std::make_shared<CloudRecordStoreDisk>(dir / "cloud", disk.writeFunction());
    const auto recordFile = dir / "cloud" / "records" / "current.json";
    auto openSettings = [&] {
        return std::make_unique<ProviderSettingsStore>(
            UserDefaults::open("settings", dir / "config", disk.writeFunction()));
    };
    auto settings = openSettings();
    auto controller =
        makeController(std::make_shared<CloudKitStatusStore>(CloudKitStatusConfiguration::standard(), records));
    controller->setEnabled(settings->isCloudSyncEnabled());
    settings->addObserver([&](ProviderSettingsStore::Property property) {
        if (property != ProviderSettingsStore::Property::isCloudSyncEnabled) return;
        mainQueue->post([&] { controller->setEnabled(settings->isCloudSyncEnabled()); });
    });
    auto refresh = [&](const std::string& title, Date at) {
        settings->pruneAcknowledgedErrors({});
        controller->submit(snapshot(title, at), rawStaleSessionSource());
        settle();
    };

    disk.fillUp();
    refresh("A", referenceDate);
    EXPECT_EQ(controller->mirrorHealth().lastFailureMessage,
              "There isn\u2019t enough space on this computer for the status record.");
    EXPECT_FALSE(std::filesystem::exists(recordFile));
    disk.setCapacity(1 << 20);
    refresh("A", referenceDate + 1);
    ASSERT_TRUE(std::filesystem::exists(recordFile));
    EXPECT_FALSE(controller->mirrorHealth().lastFailureMessage);

    disk.fillUp();
    settings->setIconStyle(StatusIconStyle::cloud);
    settings->setCloudSyncEnabled(false);
    settle();
    EXPECT_FALSE(std::filesystem::exists(recordFile)) << "switching off deletes the record";
    controller->submit(snapshot("B", referenceDate + 30), rawStaleSessionSource());
    settle();
    EXPECT_FALSE(std::filesystem::exists(recordFile)) << "no record once switched off";

    // The deleted record freed room: the settings' background retry writes
    // both settings (a refresh would too), and a later launch keeps sync off.
    EXPECT_TRUE(brindleaf::testing::drainUntil(*mainQueue, [&] { return !settings->defaults()->hasUnsavedChanges(); }))
        << "the settings were never written once the record's room was free";
    refresh("C", referenceDate + 60);
    EXPECT_FALSE(settings->defaults()->hasUnsavedChanges());
    EXPECT_FALSE(std::filesystem::exists(recordFile));
    settings.reset();
    auto relaunched = openSettings();
    EXPECT_FALSE(relaunched->isCloudSyncEnabled());
    EXPECT_EQ(relaunched->iconStyle(), StatusIconStyle::cloud);
}
