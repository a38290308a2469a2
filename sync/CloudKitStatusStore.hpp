#pragma once

#include "platform/CloudRecordStore.hpp"
#include "sync/CloudKitStatusConfiguration.hpp"
#include "sync/StatusCloudSyncStore.hpp"

#include <memory>

namespace brindleaf {

// Keeps the status payload as one record of the cloud record store: saves it,
// fetches it back, deletes it, and sets up the push subscription through which
// the companion hears of changes. Holds no mutable state; safe from any thread.
class CloudKitStatusStore final : public StatusCloudSyncStore {
public:
    // The id of the subscription earlier versions created; removed once the current one exists.
    static constexpr const char* legacySubscriptionID = "current-status-changes";

    // Opens the configured container (the default one when the identifier is
    // absent or empty) and database scope on this machine.
    explicit CloudKitStatusStore(CloudKitStatusConfiguration configuration);
    CloudKitStatusStore(CloudKitStatusConfiguration configuration, std::shared_ptr<CloudRecordStore> database);

    const CloudKitStatusConfiguration& configuration() const { return configuration_; }

    // Creates the record on the first save; later saves send only changed keys.
    // Fails with the record's own error when the store rejects the record.
    void save(const StatusPayload& payload) override;
    // Throws CloudRecordStoreError (unknownItem when nothing was saved),
    // CloudKitStatusStoreError::missingPayloadData, or StatusPayloadCodecError.
    StatusPayload fetchPayload();
    // A missing record counts as deleted.
    void deleteStatus() override;
    void ensureSubscription() override;

private:
    CloudKitStatusConfiguration configuration_;
    std::shared_ptr<CloudRecordStore> database_;
};

} // namespace brindleaf
