#pragma once

#include "platform/CloudRecordStoreError.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace brindleaf {

// A date field: seconds since 1970.
struct CloudDate {
    double secondsSince1970 = 0;
    bool operator==(const CloudDate&) const = default;
};

// A bytes field.
struct CloudBytes {
    std::string bytes;
    bool operator==(const CloudBytes&) const = default;
};

// A typed field value: string, integer, double, date or bytes.
using CloudValue = std::variant<std::string, int64_t, double, CloudDate, CloudBytes>;

// One record of the store: a type and a name in the default zone, typed
// fields, and the store's change tag and dates. Setting or removing a field
// marks its key as changed, which the changed-keys save policy sends.
class CloudRecord {
public:
    CloudRecord(std::string recordType, std::string recordName);

    const std::string& recordType() const { return recordType_; }
    const std::string& recordName() const { return recordName_; }

    const CloudValue* value(const std::string& key) const;
    void set(const std::string& key, CloudValue value);
    void remove(const std::string& key);

    const std::map<std::string, CloudValue>& fields() const { return fields_; }
    const std::set<std::string>& changedKeys() const { return changedKeys_; }
    void clearChangedKeys() { changedKeys_.clear(); }

    // Filled by the store; absent on a record that was never saved.
    std::optional<std::string> changeTag;
    std::optional<double> creationDate;
    std::optional<double> modificationDate;

private:
    std::string recordType_;
    std::string recordName_;
    std::map<std::string, CloudValue> fields_;
    std::set<std::string> changedKeys_;
};

enum class CloudDatabaseScope { publicScope, privateScope, sharedScope };

// How a modify request writes a record over the stored one.
enum class CloudSavePolicy {
    ifServerRecordUnchanged, // fails with serverRecordChanged when the change tags differ
    changedKeys,             // only the keys changed on the record are written; others stay
    allKeys,                 // the stored fields are replaced by the record's fields
};

// A query subscription on a record type with its notification settings.
struct CloudQuerySubscription {
    std::string subscriptionID;
    std::string recordType;
    std::string predicate = "TRUEPREDICATE";
    bool firesOnRecordCreation = false;
    bool firesOnRecordUpdate = false;
    bool firesOnRecordDeletion = false;
    bool shouldSendContentAvailable = false;
    std::optional<std::string> alertBody;
    std::optional<std::string> soundName;
    bool shouldBadge = false;

    bool operator==(const CloudQuerySubscription&) const = default;
};

// The outcome of a modify request, per record name: absent when that record's
// save or delete succeeded, else its error.
struct CloudModifyResult {
    std::map<std::string, std::optional<CloudRecordStoreError>> saveResults;
    std::map<std::string, std::optional<CloudRecordStoreError>> deleteResults;
};

// One database (a container and a scope) of the cloud record store. Every
// operation completes before it returns and reports failure by throwing
// CloudRecordStoreError. Implementations are safe to call from any thread.
class CloudRecordStore {
public:
    virtual ~CloudRecordStore() = default;

    // unknownItem when there is no such record.
    virtual CloudRecord fetchRecord(const std::string& recordName) = 0;
    // Throws only when the request as a whole fails; the per-record outcome is in the result.
    virtual CloudModifyResult modifyRecords(const std::vector<CloudRecord>& saving,
                                            const std::vector<std::string>& deleting, CloudSavePolicy policy,
                                            bool atomically) = 0;
    // unknownItem when there is no such record.
    virtual void deleteRecord(const std::string& recordName) = 0;

    // unknownItem when there is no such subscription.
    virtual CloudQuerySubscription fetchSubscription(const std::string& subscriptionID) = 0;
    virtual void saveSubscription(const CloudQuerySubscription& subscription) = 0;
    // unknownItem when there is no such subscription.
    virtual void deleteSubscription(const std::string& subscriptionID) = 0;

    // The identifier that stands for the default container.
    static constexpr const char* defaultContainerIdentifier = "iCloud.com.quorvale.Brindleaf";

    // The folder of all containers: $XDG_DATA_HOME/brindleaf/cloud, with
    // ~/.local/share standing in when XDG_DATA_HOME is unset or not absolute.
    static std::filesystem::path rootFolder();
    // The on-disk database of a container (the default one when the
    // identifier is empty) and scope below rootFolder().
    static std::shared_ptr<CloudRecordStore> open(const std::string& containerIdentifier, CloudDatabaseScope scope);
};

std::string_view toString(CloudDatabaseScope scope);

} // namespace brindleaf
