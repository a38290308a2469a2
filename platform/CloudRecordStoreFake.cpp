#include "platform/CloudRecordStoreFake.hpp"

#include <algorithm>

namespace brindleaf {

void CloudRecordStoreFake::begin(Operation operation) {
    std::function<void(Operation)> hook;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(operation);
        hook = hook_;
    }
    if (hook) hook(operation);
    std::lock_guard lock(mutex_);
    if (auto it = alwaysFailures_.find(operation); it != alwaysFailures_.end()) throw it->second;
    if (auto it = nextFailures_.find(operation); it != nextFailures_.end() && !it->second.empty()) {
        CloudRecordStoreError error = it->second.front();
        it->second.pop_front();
        throw error;
    }
}

CloudRecord CloudRecordStoreFake::fetchRecord(const std::string& recordName) {
    begin(Operation::fetchRecord);
    std::lock_guard lock(mutex_);
    auto it = records_.find(recordName);
    if (it == records_.end()) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Record not found");
    return it->second;
}

CloudModifyResult CloudRecordStoreFake::modifyRecords(const std::vector<CloudRecord>& saving,
                                                      const std::vector<std::string>& deleting,
                                                      CloudSavePolicy policy, bool atomically) {
    begin(Operation::modifyRecords);
    std::lock_guard lock(mutex_);
    lastPolicy_ = policy;
    lastChangedKeys_.clear();
    CloudModifyResult result;
    bool anyFailed = false;
    for (const auto& record : saving) {
        lastChangedKeys_.push_back(record.changedKeys());
        if (recordSaveFailures_.count(record.recordName())) anyFailed = true;
    }
    for (const auto& record : saving) {
        if (auto it = recordSaveFailures_.find(record.recordName()); it != recordSaveFailures_.end()) {
            result.saveResults.insert_or_assign(record.recordName(), it->second);
            recordSaveFailures_.erase(it);
            continue;
        }
        if (atomically && anyFailed) {
            result.saveResults.insert_or_assign(record.recordName(),
                                                CloudRecordStoreError(CloudErrorCode::batchRequestFailed));
            continue;
        }
        CloudRecord stored = record;
        auto existing = records_.find(record.recordName());
        if (existing != records_.end() && policy == CloudSavePolicy::changedKeys) {
            CloudRecord merged = existing->second;
            for (const auto& key : record.changedKeys()) {
                if (const CloudValue* value = record.value(key)) merged.set(key, *value);
                else merged.remove(key);
            }
            stored = merged;
        }
        stored.clearChangedKeys();
        stored.changeTag = std::to_string(nextTag_++);
        records_.insert_or_assign(record.recordName(), stored);
        result.saveResults.insert_or_assign(record.recordName(), std::nullopt);
    }
    for (const auto& name : deleting) {
        records_.erase(name);
        result.deleteResults.insert_or_assign(name, std::nullopt);
    }
    return result;
}

void CloudRecordStoreFake::deleteRecord(const std::string& recordName) {
    begin(Operation::deleteRecord);
    std::lock_guard lock(mutex_);
    if (records_.erase(recordName) == 0) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Record not found");
}

CloudQuerySubscription CloudRecordStoreFake::fetchSubscription(const std::string& subscriptionID) {
    begin(Operation::fetchSubscription);
    std::lock_guard lock(mutex_);
    auto it = subscriptions_.find(subscriptionID);
    if (it == subscriptions_.end())
        throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Subscription not found");
    return it->second;
}

void CloudRecordStoreFake::saveSubscription(const CloudQuerySubscription& subscription) {
    begin(Operation::saveSubscription);
    std::lock_guard lock(mutex_);
    subscriptions_.insert_or_assign(subscription.subscriptionID, subscription);
}

void CloudRecordStoreFake::deleteSubscription(const std::string& subscriptionID) {
    begin(Operation::deleteSubscription);
    std::lock_guard lock(mutex_);
    if (subscriptions_.erase(subscriptionID) == 0)
        throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Subscription not found");
}

void CloudRecordStoreFake::failNext(Operation operation, CloudRecordStoreError error) {
    std::lock_guard lock(mutex_);
    nextFailures_[operation].push_back(std::move(error));
}

void CloudRecordStoreFake::failAlways(Operation operation, CloudRecordStoreError error) {
    std::lock_guard lock(mutex_);
    alwaysFailures_.insert_or_assign(operation, std::move(error));
}

void CloudRecordStoreFake::clearFailures() {
    std::lock_guard lock(mutex_);
    nextFailures_.clear();
    alwaysFailures_.clear();
    recordSaveFailures_.clear();
}

void CloudRecordStoreFake::failNextRecordSave(const std::string& recordName, CloudRecordStoreError error) {
    std::lock_guard lock(mutex_);
    recordSaveFailures_.insert_or_assign(recordName, std::move(error));
}

void CloudRecordStoreFake::setHook(std::function<void(Operation)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void CloudRecordStoreFake::putRecord(CloudRecord record) {
    std::lock_guard lock(mutex_);
    record.clearChangedKeys();
    std::string name = record.recordName();
    records_.insert_or_assign(name, std::move(record));
}

std::optional<CloudRecord> CloudRecordStoreFake::record(const std::string& recordName) const {
    std::lock_guard lock(mutex_);
    auto it = records_.find(recordName);
    if (it == records_.end()) return std::nullopt;
    return it->second;
}

void CloudRecordStoreFake::putSubscription(CloudQuerySubscription subscription) {
    std::lock_guard lock(mutex_);
    std::string id = subscription.subscriptionID;
    subscriptions_.insert_or_assign(id, std::move(subscription));
}

std::optional<CloudQuerySubscription> CloudRecordStoreFake::subscription(const std::string& subscriptionID) const {
    std::lock_guard lock(mutex_);
    auto it = subscriptions_.find(subscriptionID);
    if (it == subscriptions_.end()) return std::nullopt;
    return it->second;
}

std::vector<CloudRecordStoreFake::Operation> CloudRecordStoreFake::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

size_t CloudRecordStoreFake::callCount(Operation operation) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(calls_.begin(), calls_.end(), operation));
}

std::vector<std::set<std::string>> CloudRecordStoreFake::lastSavedChangedKeys() const {
    std::lock_guard lock(mutex_);
    return lastChangedKeys_;
}

std::optional<CloudSavePolicy> CloudRecordStoreFake::lastSavePolicy() const {
    std::lock_guard lock(mutex_);
    return lastPolicy_;
}

} // namespace brindleaf
