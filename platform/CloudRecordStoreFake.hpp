#pragma once

#include "platform/CloudRecordStore.hpp"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brindleaf {

// An in-memory cloud record store for tests, with failures that can be
// injected per operation and per saved record, and a log of calls.
class CloudRecordStoreFake final : public CloudRecordStore {
public:
    enum class Operation { fetchRecord, modifyRecords, deleteRecord, fetchSubscription, saveSubscription, deleteSubscription };

    CloudRecord fetchRecord(const std::string& recordName) override;
    CloudModifyResult modifyRecords(const std::vector<CloudRecord>& saving, const std::vector<std::string>& deleting,
                                    CloudSavePolicy policy, bool atomically) override;
    void deleteRecord(const std::string& recordName) override;

    CloudQuerySubscription fetchSubscription(const std::string& subscriptionID) override;
    void saveSubscription(const CloudQuerySubscription& subscription) override;
    void deleteSubscription(const std::string& subscriptionID) override;

    // The next call of the operation throws the error (queued, one per call).
    void failNext(Operation operation, CloudRecordStoreError error);
    // Every call of the operation throws the error until cleared.
    void failAlways(Operation operation, CloudRecordStoreError error);
    void clearFailures();
    // The next modify request reports this error for the named saved record
    // (the request itself succeeds and the record is not stored).
    void failNextRecordSave(const std::string& recordName, CloudRecordStoreError error);
    // Runs before every operation, outside the store's lock (to block or observe).
    void setHook(std::function<void(Operation)> hook);

    // Direct access to the contents.
    void putRecord(CloudRecord record);
    std::optional<CloudRecord> record(const std::string& recordName) const;
    void putSubscription(CloudQuerySubscription subscription);
    std::optional<CloudQuerySubscription> subscription(const std::string& subscriptionID) const;

    // The operations called so far, in order.
    std::vector<Operation> calls() const;
    size_t callCount(Operation operation) const;
    // The changed keys of the records of the last modify request, and its policy.
    std::vector<std::set<std::string>> lastSavedChangedKeys() const;
    std::optional<CloudSavePolicy> lastSavePolicy() const;

private:
    void begin(Operation operation);

    mutable std::mutex mutex_;
    std::map<std::string, CloudRecord> records_;
    std::map<std::string, CloudQuerySubscription> subscriptions_;
    std::map<Operation, std::deque<CloudRecordStoreError>> nextFailures_;
    std::map<Operation, CloudRecordStoreError> alwaysFailures_;
    std::map<std::string, CloudRecordStoreError> recordSaveFailures_;
    std::function<void(Operation)> hook_;
    std::vector<Operation> calls_;
    std::vector<std::set<std::string>> lastChangedKeys_;
    std::optional<CloudSavePolicy> lastPolicy_;
    long long nextTag_ = 1;
};

} // namespace brindleaf
