#pragma once

#include "platform/AtomicFile.hpp"
#include "platform/CloudRecordStore.hpp"

#include <filesystem>

namespace brindleaf {

// The cloud record store kept on this machine: one folder per container and
// scope, holding "records/<name>.json", "subscriptions/<id>.json" and a
// ".lock" file. Every change is made under an exclusive lock on the lock file
// and written to a temporary file that is renamed over the old one, so the
// tray application and a command-line run may use the same database at once
// and readers never see half a file. Names are stored percent-encoded.
//
// Record file form:
//   {"recordType":"CurrentStatus","recordName":"current","changeTag":"3",
//    "creationDate":1767225900.0,"modificationDate":1767225960.5,
//    "fields":{"deviceID":{"string":"Desk"},"schemaVersion":{"int":1},
//              "checkedAt":{"date":1767225900.0},"payloadData":{"bytes":"<base64>"},
//              "ratio":{"double":0.5}}}
// A field of an unknown type is ignored when read.
class CloudRecordStoreDisk final : public CloudRecordStore {
public:
    // `folder` is the database's own folder; it is created on the first change.
    // `write` stands in for ::write when files are written (tests run it out of space).
    explicit CloudRecordStoreDisk(std::filesystem::path folder, AtomicFile::WriteFunction write = {});

    const std::filesystem::path& folder() const { return folder_; }

    CloudRecord fetchRecord(const std::string& recordName) override;
    CloudModifyResult modifyRecords(const std::vector<CloudRecord>& saving, const std::vector<std::string>& deleting,
                                    CloudSavePolicy policy, bool atomically) override;
    void deleteRecord(const std::string& recordName) override;

    CloudQuerySubscription fetchSubscription(const std::string& subscriptionID) override;
    void saveSubscription(const CloudQuerySubscription& subscription) override;
    void deleteSubscription(const std::string& subscriptionID) override;

    // The file name used for a record name or subscription id.
    static std::string encodedName(const std::string& name);

private:
    std::filesystem::path folder_;
    AtomicFile::WriteFunction write_;
};

} // namespace brindleaf
