#include "sync/StatusCloudSyncController.hpp"

#include "platform/Logger.hpp"
#include "platform/ThreadMainQueue.hpp"
#include "sync/CloudKitEntitlement.hpp"
#include "sync/CloudKitStatusErrorPresenter.hpp"
#include "sync/CloudKitStatusStore.hpp"
#include "sync/SyncSignature.hpp"

namespace brindleaf {

namespace {

const Logger& syncLog() {
    static const Logger logger("CloudSync");
    return logger;
}

} // namespace

std::shared_ptr<StatusCloudSyncController> StatusCloudSyncController::make(Options options) {
    return std::shared_ptr<StatusCloudSyncController>(new StatusCloudSyncController(std::move(options)));
}

StatusCloudSyncController::StatusCloudSyncController(Options options)
    : mainQueue_(std::move(options.mainQueue)), background_(std::move(options.background)),
      clock_(std::move(options.clock)), deviceName_(std::move(options.deviceName)), store_(std::move(options.store)),
      privacy_(options.privacy.includeSessionDetails, options.privacy.includeProviderErrors,
               options.privacy.maxSessions, options.privacy.maxErrorLength) {
    if (!store_) {
        if (hasCloudKitEntitlement()) {
            store_ = std::make_shared<CloudKitStatusStore>(CloudKitStatusConfiguration::standard());
        } else {
            syncLog().notice("Brindleaf CloudKit sync disabled: missing CloudKit entitlement.");
        }
    }
    if (!background_) {
        worker_ = std::make_unique<ThreadMainQueue>();
        background_ = [worker = worker_.get()](std::function<void()> work) { worker->post(std::move(work)); };
    }
}

StatusCloudSyncController::~StatusCloudSyncController() {
    // The worker finishes its current call and is joined; later completions find no controller.
    worker_.reset();
}

Date StatusCloudSyncController::now() const { return clock_ ? clock_() : currentDate(); }

void StatusCloudSyncController::changed() {
    if (onChange_) onChange_();
}

void StatusCloudSyncController::submit(const AgentStatusSnapshot& snapshot, const StaleSessionSource& staleSource) {
    if (!enabled_ || !store_) return;
    StatusPayload payload = buildStatusPayload(snapshot, deviceName_ ? deviceName_() : deviceDisplayName(), privacy_,
                                               staleSource ? staleSource : rawStaleSessionSource());
    bool shouldSave = !lastSavedSignature_ || !lastSavedCheckedAt_ || syncSignature(payload) != *lastSavedSignature_ ||
                      payload.checkedAt - *lastSavedCheckedAt_ >= minimumSaveInterval;
    if (!shouldSave) return;
    ++latestSubmittedGeneration_;
    health_.latestSubmittedGeneration = latestSubmittedGeneration_;
    pending_ = PendingSync{latestSubmittedGeneration_, std::move(payload)};
    changed();
    drain();
}

void StatusCloudSyncController::drain() {
    if (saving_) return;
    if (!pending_ || !store_) return;
    PendingSync next = std::move(*pending_);
    pending_.reset();
    saving_ = true;
    auto store = store_;
    auto payload = std::make_shared<StatusPayload>(std::move(next.payload));
    int64_t generation = next.generation;
    runInBackground([store, payload] { store->save(*payload); },
                    [generation, payload](StatusCloudSyncController& self, std::exception_ptr error) {
                        self.saveFinished(generation, *payload, error);
                    });
}

void StatusCloudSyncController::saveFinished(int64_t generation, const StatusPayload& payload,
                                             std::exception_ptr error) {
    saving_ = false;
    if (error) {
        recordFailure(generation, error);
        syncLog().error("Brindleaf CloudKit sync failed: " + CloudKitStatusErrorPresenter::fullDescription(error));
    } else {
        if (generation == latestSubmittedGeneration_ && enabled_) {
            lastSavedSignature_ = syncSignature(payload);
            lastSavedCheckedAt_ = payload.checkedAt;
            health_.lastSucceededGeneration = generation;
            health_.lastSucceededAt = now();
            health_.lastFailureDescription.reset();
            health_.lastFailureMessage.reset();
            health_.lastFailureAt.reset();
            changed();
        }
        if (store_ && !didEnsureSubscription_ && !ensuringSubscription_) startSubscriptionSetUp();
    }
    if (deleteAfterInFlightSave_) {
        deleteAfterInFlightSave_ = false;
        if (!enabled_ && store_) startDelete();
    }
    drain();
}

void StatusCloudSyncController::startSubscriptionSetUp() {
    ensuringSubscription_ = true;
    auto store = store_;
    runInBackground([store] { store->ensureSubscription(); },
                    [](StatusCloudSyncController& self, std::exception_ptr error) { self.subscriptionFinished(error); });
}

void StatusCloudSyncController::subscriptionFinished(std::exception_ptr error) {
    ensuringSubscription_ = false;
    if (error) {
        syncLog().error("Brindleaf CloudKit subscription setup failed: " +
                        CloudKitStatusErrorPresenter::fullDescription(error));
        return;
    }
    didEnsureSubscription_ = true;
}

void StatusCloudSyncController::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    lastSavedSignature_.reset();
    lastSavedCheckedAt_.reset();
    pending_.reset();
    deleteAfterInFlightSave_ = !enabled && saving_;
    changed();
    if (!enabled && store_) startDelete();
}

void StatusCloudSyncController::startDelete() {
    auto store = store_;
    runInBackground([store] { store->deleteStatus(); },
                    [](StatusCloudSyncController& self, std::exception_ptr error) { self.deleteFinished(error); });
}

void StatusCloudSyncController::deleteFinished(std::exception_ptr error) {
    if (!error) return;
    recordFailure(std::nullopt, error);
}

void StatusCloudSyncController::recordFailure(std::optional<int64_t> generation, std::exception_ptr error) {
    if (generation) health_.lastFailedGeneration = *generation;
    health_.lastFailureDescription = CloudKitStatusErrorPresenter::fullDescription(error);
    health_.lastFailureMessage = CloudKitStatusErrorPresenter::message(error);
    health_.lastFailureAt = now();
    changed();
}

void StatusCloudSyncController::runInBackground(
    std::function<void()> work, std::function<void(StatusCloudSyncController&, std::exception_ptr)> done) {
    std::weak_ptr<StatusCloudSyncController> weak = weak_from_this();
    auto mainQueue = mainQueue_;
    background_([weak, mainQueue, work = std::move(work), done = std::move(done)] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        mainQueue->post([weak, done, error] {
            if (auto self = weak.lock()) done(*self, error);
        });
    });
}

} // namespace brindleaf
