#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "platform/MainQueue.hpp"
#include "sync/StatusCloudSyncHealth.hpp"
#include "sync/StatusCloudSyncStore.hpp"
#include "sync/StatusPayload.hpp"
#include "sync/StatusPayloadBuilder.hpp"
#include "sync/StatusPayloadPrivacy.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf {

class ThreadMainQueue;

// Keeps one status record in the cloud in step with what the application
// shows. Every applied snapshot is submitted; the controller builds the
// privacy-filtered payload, saves it when its content changed or 20 seconds
// of check time passed since the last saved one, keeps at most one save in
// flight and one payload waiting (the newest wins), and sets up the push
// subscription after a successful save until one set-up succeeded.
//
// Confined to the main queue: submit(), setEnabled() and the getters are
// called there, and every store call's completion comes back there. The
// store calls themselves run in order on a worker. Pending work holds the
// controller weakly and does nothing once it is gone.
class StatusCloudSyncController : public std::enable_shared_from_this<StatusCloudSyncController> {
public:
    // Runs store calls away from the main queue.
    using BackgroundRunner = std::function<void(std::function<void()>)>;

    struct Options {
        std::shared_ptr<MainQueue> mainQueue;
        StatusPayloadPrivacy privacy = StatusPayloadPrivacy::standard();
        // The store; when absent, the cloud status store is made if the
        // application holds the CloudKit entitlement, else there is none.
        std::shared_ptr<StatusCloudSyncStore> store;
        // Empty: an own worker thread runs the store calls in order.
        BackgroundRunner background;
        // Empty: the wall clock.
        std::function<Date()> clock;
        // Empty: deviceDisplayName().
        std::function<std::string()> deviceName;
    };

    struct PendingSync {
        int64_t generation = 0;
        StatusPayload payload;
    };

    static constexpr double minimumSaveInterval = 20.0;

    static std::shared_ptr<StatusCloudSyncController> make(Options options);
    ~StatusCloudSyncController();
    StatusCloudSyncController(const StatusCloudSyncController&) = delete;
    StatusCloudSyncController& operator=(const StatusCloudSyncController&) = delete;

    void submit(const AgentStatusSnapshot& snapshot, const StaleSessionSource& staleSource);
    void setEnabled(bool enabled);

    const StatusCloudSyncHealth& mirrorHealth() const { return health_; }
    bool isEnabled() const { return enabled_; }
    bool hasStore() const { return store_ != nullptr; }
    // Called on the main queue after mirrorHealth or isEnabled changed.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // Inner state, for diagnostics and tests.
    bool isSaving() const { return saving_; }
    bool didEnsureSubscription() const { return didEnsureSubscription_; }
    const std::optional<PendingSync>& pendingSync() const { return pending_; }
    const std::optional<std::string>& lastSavedSignature() const { return lastSavedSignature_; }

private:
    explicit StatusCloudSyncController(Options options);

    void drain();
    void saveFinished(int64_t generation, const StatusPayload& payload, std::exception_ptr error);
    void startSubscriptionSetUp();
    void subscriptionFinished(std::exception_ptr error);
    void startDelete();
    void deleteFinished(std::exception_ptr error);
    void recordFailure(std::optional<int64_t> generation, std::exception_ptr error);
    // Runs `work` on the worker, then `done` with its error on the main queue if the controller still exists.
    void runInBackground(std::function<void()> work,
                         std::function<void(StatusCloudSyncController&, std::exception_ptr)> done);
    void changed();
    Date now() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::unique_ptr<ThreadMainQueue> worker_;
    BackgroundRunner background_;
    std::function<Date()> clock_;
    std::function<std::string()> deviceName_;
    std::function<void()> onChange_;

    StatusCloudSyncHealth health_;
    bool enabled_ = true;
    std::shared_ptr<StatusCloudSyncStore> store_;
    StatusPayloadPrivacy privacy_;
    std::optional<std::string> lastSavedSignature_;
    std::optional<Date> lastSavedCheckedAt_;
    bool didEnsureSubscription_ = false;
    bool ensuringSubscription_ = false;
    bool saving_ = false;
    int64_t latestSubmittedGeneration_ = 0;
    std::optional<PendingSync> pending_;
    // Sync was switched off while a save was in flight: that save may land
    // after the delete, so the record is deleted again when it ends.
    bool deleteAfterInFlightSave_ = false;
};

} // namespace brindleaf
