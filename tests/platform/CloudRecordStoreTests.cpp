#include "platform/CloudRecordStore.hpp"
#include "platform/CloudRecordStoreDisk.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

CloudErrorCode codeOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const CloudRecordStoreError& error) {
        return error.code();
    }
    return CloudErrorCode(0);
}

CloudRecord statusRecord(const std::string& name = "current") {
    CloudRecord record("CurrentStatus", name);
    record.set("text", std::string("hello"));
    record.set("count", int64_t(3));
    record.set("ratio", 0.25);
    record.set("when", CloudDate{1769850300.5});
    record.set("data", CloudBytes{std::string("\0\xFF\x01z", 4)});
    return record;
}

} // namespace

TEST(CloudRecordStoreDisk, RecordsKeepTheirTypedFieldsTagsAndDates) {
    TempDir dir;
    CloudRecordStoreDisk store(dir / "db");
    EXPECT_EQ(codeOf([&] { store.fetchRecord("current"); }), CloudErrorCode::unknownItem);
    EXPECT_FALSE(std::filesystem::exists(dir / "db")); // reading creates nothing

    auto result = store.modifyRecords({statusRecord()}, {}, CloudSavePolicy::allKeys, true);
    ASSERT_TRUE(result.saveResults.count("current"));
    EXPECT_FALSE(result.saveResults.at("current").has_value());
    CloudRecord fetched = store.fetchRecord("current");
    EXPECT_EQ(fetched.fields(), statusRecord().fields());
    EXPECT_TRUE(fetched.changedKeys().empty());
    EXPECT_EQ(fetched.changeTag, "1");
    ASSERT_TRUE(fetched.creationDate && fetched.modificationDate);

    // Changed keys only: untouched fields stay, removed ones go.
    fetched.set("count", int64_t(4));
    fetched.remove("ratio");
    store.modifyRecords({fetched}, {}, CloudSavePolicy::changedKeys, true);
    CloudRecord merged = store.fetchRecord("current");
    EXPECT_EQ(std::get<int64_t>(*merged.value("count")), 4);
    EXPECT_EQ(merged.value("ratio"), nullptr);
    EXPECT_EQ(std::get<std::string>(*merged.value("text")), "hello");
    EXPECT_EQ(merged.changeTag, "2");
    EXPECT_EQ(merged.creationDate, fetched.creationDate);

    // Every key of a fresh record without a tag: a stale tag is a conflict.
    CloudRecord stale = statusRecord();
    auto conflict = store.modifyRecords({stale}, {}, CloudSavePolicy::ifServerRecordUnchanged, true);
    EXPECT_EQ(conflict.saveResults.at("current")->code(), CloudErrorCode::serverRecordChanged);
    CloudRecord otherType("Other", "current");
    auto mismatch = store.modifyRecords({otherType, statusRecord("second")}, {}, CloudSavePolicy::allKeys, true);
    EXPECT_EQ(mismatch.saveResults.at("current")->code(), CloudErrorCode::invalidArguments);
    EXPECT_EQ(mismatch.saveResults.at("second")->code(), CloudErrorCode::batchRequestFailed);
    EXPECT_EQ(codeOf([&] { store.fetchRecord("second"); }), CloudErrorCode::unknownItem);
    auto partial = store.modifyRecords({otherType, statusRecord("second")}, {}, CloudSavePolicy::allKeys, false);
    EXPECT_TRUE(partial.saveResults.at("current").has_value());
    EXPECT_FALSE(partial.saveResults.at("second").has_value());

    store.deleteRecord("second");
    EXPECT_EQ(codeOf([&] { store.deleteRecord("second"); }), CloudErrorCode::unknownItem);
}

TEST(CloudRecordStoreDisk, NamesCannotEscapeTheDatabaseFolder) {
    TempDir dir;
    CloudRecordStoreDisk store(dir / "db");
    for (std::string name : {"../escape", ".hidden", "a/b", "..", "ü"}) {
        store.modifyRecords({statusRecord(name)}, {}, CloudSavePolicy::allKeys, true);
        EXPECT_EQ(store.fetchRecord(name).recordName(), name);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "db" / "records"), {}), 5);
    EXPECT_EQ(codeOf([&] { store.fetchRecord(""); }), CloudErrorCode::invalidArguments);
}

TEST(CloudRecordStoreDisk, DamagedAndUnwritableStorageReportsErrors) {
    TempDir dir;
    CloudRecordStoreDisk store(dir / "db");
    writeFile(dir / "db" / "records" / "current.json", "{\"recordType\":");
    EXPECT_EQ(codeOf([&] { store.fetchRecord("current"); }), CloudErrorCode::internalError);
    // A hand-written record: unknown field types are skipped.
    writeFile(
        dir / "db" / "records" / "current.json",
        R"({"recordType":"CurrentStatus","recordName":"current","fields":{"a":{"string":"x"},"b":{"colour":"red"}}})");
    EXPECT_EQ(store.fetchRecord("current").fields().size(), 1u);

    if (geteuid() != 0) {
        std::filesystem::permissions(dir / "db" / "records",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        auto result = store.modifyRecords({statusRecord()}, {}, CloudSavePolicy::allKeys, true);
        EXPECT_EQ(result.saveResults.at("current")->code(), CloudErrorCode::permissionFailure);
        std::filesystem::permissions(dir / "db" / "records", std::filesystem::perms::owner_all);
    }
}

TEST(CloudRecordStoreDisk, SubscriptionsAreStoredFetchedAndDeleted) {
    TempDir dir;
    CloudRecordStoreDisk store(dir / "db");
    EXPECT_EQ(codeOf([&] { store.fetchSubscription("s"); }), CloudErrorCode::unknownItem);
    EXPECT_EQ(codeOf([&] { store.deleteSubscription("s"); }), CloudErrorCode::unknownItem);
    CloudQuerySubscription subscription;
    subscription.subscriptionID = "s";
    subscription.recordType = "CurrentStatus";
    subscription.firesOnRecordUpdate = true;
    subscription.shouldSendContentAvailable = true;
    subscription.alertBody = "changed";
    store.saveSubscription(subscription);
    EXPECT_EQ(store.fetchSubscription("s"), subscription);
    store.deleteSubscription("s");
    EXPECT_EQ(codeOf([&] { store.fetchSubscription("s"); }), CloudErrorCode::unknownItem);
}

TEST(CloudRecordStoreDisk, ConcurrentProcessesNeverLoseEachOthersKeys) {
    TempDir dir;
    constexpr int writers = 4;
    constexpr int rounds = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CloudRecordStoreDisk store(dir / "db");
            for (int i = 0; i < rounds; ++i) {
                CloudRecord record("CurrentStatus", "current");
                record.set("writer" + std::to_string(w), int64_t(i));
                auto result = store.modifyRecords({record}, {}, CloudSavePolicy::changedKeys, true);
                if (result.saveResults.at("current")) _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CloudRecord record = CloudRecordStoreDisk(dir / "db").fetchRecord("current");
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(std::get<int64_t>(*record.value("writer" + std::to_string(w))), rounds - 1);
    EXPECT_EQ(record.changeTag, std::to_string(writers * rounds));
    for (const auto& entry : std::filesystem::directory_iterator(dir / "db" / "records"))
        EXPECT_EQ(entry.path().filename(), "current.json"); // no temporary files left
}

TEST(CloudRecordStore, RootFolderFollowsTheDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(CloudRecordStore::rootFolder(), "/srv/data/brindleaf/cloud");
    setenv("XDG_DATA_HOME", "relative", 1);
    std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(CloudRecordStore::rootFolder(), std::filesystem::path(home) / ".local/share/brindleaf/cloud");
    }
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    auto disk =
        std::dynamic_pointer_cast<CloudRecordStoreDisk>(CloudRecordStore::open("", CloudDatabaseScope::privateScope));
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->folder(), "/srv/data/brindleaf/cloud/iCloud.com.quorvale.Brindleaf/private");
    if (saved) {
        setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}
