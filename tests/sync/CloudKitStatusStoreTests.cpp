#include "sync/CloudKitStatusStore.hpp"

#include "platform/CloudRecordStoreDisk.hpp"
#include "platform/CloudRecordStoreFake.hpp"
#include "sync/CloudKitStatusErrorPresenter.hpp"
#include "sync/CloudKitStatusStoreError.hpp"
#include "sync/StatusPayloadCodec.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/sync/PayloadFixtures.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;
using Op = CloudRecordStoreFake::Operation;

namespace {

std::string presented(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        return CloudKitStatusErrorPresenter::message(std::current_exception());
    }
    return "no error";
}

} // namespace

TEST(CloudKitStatusStore, SavesOneRecordOnDiskAndFetchesItBack) {
    TempDir dir;
    auto database = std::make_shared<CloudRecordStoreDisk>(dir.path() / "db");
    CloudKitStatusStore store(CloudKitStatusConfiguration::standard(), database);

    EXPECT_EQ(presented([&] { store.fetchPayload(); }), "This computer hasn\u2019t shared a status yet.");
    EXPECT_NO_THROW(store.deleteStatus()); // nothing to delete

    StatusPayload payload = fullPayload();
    store.save(payload);
    EXPECT_EQ(store.fetchPayload(), payload);

    CloudRecord record = database->fetchRecord("current");
    EXPECT_EQ(record.recordType(), "CurrentStatus");
    EXPECT_EQ(std::get<std::string>(*record.value("deviceID")), "Desk");
    EXPECT_EQ(std::get<int64_t>(*record.value("schemaVersion")), 1);
    EXPECT_EQ(std::get<CloudDate>(*record.value("checkedAt")).secondsSince1970, referenceDate);
    EXPECT_EQ(std::get<std::string>(*record.value("state")), "inProgress");
    EXPECT_EQ(std::get<int64_t>(*record.value("activeCount")), 1);
    EXPECT_EQ(std::get<int64_t>(*record.value("staleCount")), 2);
    EXPECT_EQ(std::get<int64_t>(*record.value("recentEvidenceSessionCount")), 1);
    EXPECT_EQ(std::get<CloudBytes>(*record.value("payloadData")).bytes, StatusPayloadCodec::encode(payload));
    EXPECT_TRUE(std::holds_alternative<CloudDate>(*record.value("updatedAt")));
    auto firstTag = record.changeTag;
    auto created = record.creationDate;

    payload.activeCount = 0;
    payload.sessions.clear();
    store.save(payload);
    CloudRecord updated = database->fetchRecord("current");
    EXPECT_NE(updated.changeTag, firstTag);
    EXPECT_EQ(updated.creationDate, created);
    EXPECT_EQ(std::get<int64_t>(*updated.value("recentEvidenceSessionCount")), 0);
    EXPECT_EQ(store.fetchPayload(), payload);

    store.deleteStatus();
    EXPECT_EQ(presented([&] { store.fetchPayload(); }), "This computer hasn\u2019t shared a status yet.");
}

TEST(CloudKitStatusStore, RecordWithoutPayloadDataOrWithBadDataFailsTheFetch) {
    auto records = std::make_shared<CloudRecordStoreFake>();
    CloudKitStatusStore store(CloudKitStatusConfiguration::standard(), records);
    CloudRecord bare("CurrentStatus", "current");
    bare.set("deviceID", std::string("Desk"));
    records->putRecord(bare);
    EXPECT_EQ(presented([&] { store.fetchPayload(); }),
              "The status from this computer is incomplete. It will update shortly.");
    bare.set("payloadData", std::string("{}")); // a string, not bytes
    records->putRecord(bare);
    EXPECT_THROW(store.fetchPayload(), CloudKitStatusStoreError);
    bare.set("payloadData", CloudBytes{"{\"schemaVersion\":1}"});
    records->putRecord(bare);
    EXPECT_THROW(store.fetchPayload(), StatusPayloadCodecError);
}

TEST(CloudKitStatusStore, SaveSendsChangedKeysAndFailsWithTheRecordsOwnError) {
    auto records = std::make_shared<CloudRecordStoreFake>();
    CloudKitStatusStore store(CloudKitStatusConfiguration::standard(), records);
    store.save(fullPayload());
    EXPECT_EQ(records->lastSavePolicy(), CloudSavePolicy::changedKeys);
    ASSERT_EQ(records->lastSavedChangedKeys().size(), 1u);
    EXPECT_EQ(records->lastSavedChangedKeys()[0].size(), 9u);

    records->failNextRecordSave("current", CloudRecordStoreError(CloudErrorCode::quotaExceeded));
    EXPECT_EQ(presented([&] { store.save(fullPayload()); }),
              "There isn\u2019t enough space on this computer for the status record.");

    records->failNext(Op::fetchRecord, CloudRecordStoreError(CloudErrorCode::notAuthenticated));
    EXPECT_EQ(presented([&] { store.save(fullPayload()); }),
              "Sign in to the status record store on this computer to see its status.");
    EXPECT_EQ(records->callCount(Op::modifyRecords), 2u);

    records->failNext(Op::deleteRecord, CloudRecordStoreError(CloudErrorCode::serviceUnavailable));
    EXPECT_EQ(presented([&] { store.deleteStatus(); }),
              "The status record store is temporarily unavailable. Try again later.");
}

TEST(CloudKitStatusStore, EnsureSubscriptionCreatesTheSilentSubscriptionOnce) {
    auto records = std::make_shared<CloudRecordStoreFake>();
    CloudQuerySubscription legacy;
    legacy.subscriptionID = "current-status-changes";
    legacy.recordType = "CurrentStatus";
    records->putSubscription(legacy);
    CloudKitStatusStore store(CloudKitStatusConfiguration::standard(), records);

    store.ensureSubscription();
    auto created = records->subscription("current-status-silent");
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(created->recordType, "CurrentStatus");
    EXPECT_EQ(created->predicate, "TRUEPREDICATE");
    EXPECT_TRUE(created->firesOnRecordCreation && created->firesOnRecordUpdate && created->firesOnRecordDeletion);
    EXPECT_TRUE(created->shouldSendContentAvailable);
    EXPECT_FALSE(created->alertBody || created->soundName || created->shouldBadge);
    EXPECT_FALSE(records->subscription("current-status-changes").has_value());

    records->putSubscription(legacy);
    store.ensureSubscription(); // exists: nothing else is touched
    EXPECT_TRUE(records->subscription("current-status-changes").has_value());
    EXPECT_EQ(records->callCount(Op::saveSubscription), 1u);

    // Creating it when the legacy removal fails still succeeds; a save failure does not.
    auto fresh = std::make_shared<CloudRecordStoreFake>();
    CloudKitStatusStore other(CloudKitStatusConfiguration::standard(), fresh);
    fresh->failNext(Op::deleteSubscription, CloudRecordStoreError(CloudErrorCode::networkFailure));
    EXPECT_NO_THROW(other.ensureSubscription());
    auto failing = std::make_shared<CloudRecordStoreFake>();
    CloudKitStatusStore third(CloudKitStatusConfiguration::standard(), failing);
    failing->failNext(Op::saveSubscription, CloudRecordStoreError(CloudErrorCode::permissionFailure));
    EXPECT_EQ(presented([&] { third.ensureSubscription(); }),
              "Brindleaf doesn\u2019t have permission to use the status record store.");
    failing->failNext(Op::fetchSubscription, CloudRecordStoreError(CloudErrorCode::requestRateLimited));
    EXPECT_EQ(presented([&] { third.ensureSubscription(); }),
              "The status record store is busy. Brindleaf will try again shortly.");
    EXPECT_EQ(failing->callCount(Op::saveSubscription), 1u);
}

TEST(CloudKitStatusErrorPresenter, MessagesForEveryKindOfError) {
    auto of = [](auto error) { return CloudKitStatusErrorPresenter::message(std::make_exception_ptr(error)); };
    EXPECT_EQ(of(CloudRecordStoreError(CloudErrorCode::networkFailure)),
              "Connect to the internet to update the status.");
    EXPECT_EQ(of(CloudRecordStoreError(CloudErrorCode::zoneBusy)),
              "The status record store is busy. Brindleaf will try again shortly.");
    EXPECT_EQ(of(CloudRecordStoreError(CloudErrorCode::unknownItem)), "This computer hasn\u2019t shared a status yet.");
    EXPECT_EQ(of(CloudRecordStoreError(CloudErrorCode::internalError, "disk exploded")), "disk exploded");
    EXPECT_EQ(of(CloudKitStatusStoreError(CloudKitStatusStoreError::Kind::stalePayload)),
              "This computer hasn\u2019t updated its status recently.");
    EXPECT_EQ(of(std::runtime_error("plain failure")), "plain failure");
    EXPECT_EQ(of(std::runtime_error("")), "The status couldn\u2019t be updated.");
    EXPECT_EQ(of(42), "The status couldn\u2019t be updated.");
    EXPECT_EQ(CloudKitStatusErrorPresenter::fullDescription(std::make_exception_ptr(
                  CloudKitStatusStoreError(CloudKitStatusStoreError::Kind::missingPayloadData))),
              "CloudKitStatusStoreError.missingPayloadData");
}
