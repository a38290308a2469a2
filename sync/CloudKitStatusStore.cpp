#include "sync/CloudKitStatusStore.hpp"

#include "core/Date.hpp"
#include "sync/CloudKitStatusStoreError.hpp"
#include "sync/StatusPayloadCodec.hpp"

namespace brindleaf {

namespace {

std::shared_ptr<CloudRecordStore> openDatabase(const CloudKitStatusConfiguration& configuration) {
    std::string container = configuration.containerIdentifier.value_or("");
    return CloudRecordStore::open(container, configuration.databaseScope);
}

bool isUnknownItem(const CloudRecordStoreError& error) { return error.code() == CloudErrorCode::unknownItem; }

} // namespace

CloudKitStatusStore::CloudKitStatusStore(CloudKitStatusConfiguration configuration)
    : configuration_(std::move(configuration)), database_(openDatabase(configuration_)) {}

CloudKitStatusStore::CloudKitStatusStore(CloudKitStatusConfiguration configuration,
                                         std::shared_ptr<CloudRecordStore> database)
    : configuration_(std::move(configuration)), database_(std::move(database)) {}

void CloudKitStatusStore::save(const StatusPayload& payload) {
    std::optional<CloudRecord> record;
    try {
        record = database_->fetchRecord(configuration_.recordName);
    } catch (const CloudRecordStoreError& error) {
        if (!isUnknownItem(error)) throw;
        record.emplace(configuration_.recordType, configuration_.recordName);
    }
    std::string data = StatusPayloadCodec::encode(payload);

    record->set("payloadData", CloudBytes{std::move(data)});
    record->set("schemaVersion", payload.schemaVersion);
    record->set("deviceID", payload.deviceID);
    record->set("checkedAt", CloudDate{payload.checkedAt});
    record->set("state", std::string(toString(payload.state)));
    record->set("activeCount", payload.activeCount);
    record->set("staleCount", payload.staleCount);
    record->set("recentEvidenceSessionCount", payload.recentEvidenceSessionCount());
    record->set("updatedAt", CloudDate{currentDate()});

    CloudModifyResult result = database_->modifyRecords({*record}, {}, CloudSavePolicy::changedKeys, true);
    auto outcome = result.saveResults.find(configuration_.recordName);
    if (outcome == result.saveResults.end())
        throw CloudRecordStoreError(CloudErrorCode::internalError, "The store did not report the record's result");
    if (outcome->second) throw *outcome->second;
}

StatusPayload CloudKitStatusStore::fetchPayload() {
    CloudRecord record = database_->fetchRecord(configuration_.recordName);
    const CloudValue* value = record.value("payloadData");
    const auto* bytes = value ? std::get_if<CloudBytes>(value) : nullptr;
    if (!bytes) throw CloudKitStatusStoreError(CloudKitStatusStoreError::Kind::missingPayloadData);
    return StatusPayloadCodec::decodePayload(bytes->bytes);
}

void CloudKitStatusStore::deleteStatus() {
    try {
        database_->deleteRecord(configuration_.recordName);
    } catch (const CloudRecordStoreError& error) {
        if (!isUnknownItem(error)) throw;
    }
}

void CloudKitStatusStore::ensureSubscription() {
    try {
        database_->fetchSubscription(configuration_.subscriptionID);
        return;
    } catch (const CloudRecordStoreError& error) {
        if (!isUnknownItem(error)) throw;
    }
    CloudQuerySubscription subscription;
    subscription.subscriptionID = configuration_.subscriptionID;
    subscription.recordType = configuration_.recordType;
    subscription.predicate = "TRUEPREDICATE";
    subscription.firesOnRecordCreation = true;
    subscription.firesOnRecordUpdate = true;
    subscription.firesOnRecordDeletion = true;
    subscription.shouldSendContentAvailable = true;
    database_->saveSubscription(subscription);
    try {
        database_->deleteSubscription(legacySubscriptionID);
    } catch (...) {
        // The older subscription is usually long gone.
    }
}

} // namespace brindleaf
