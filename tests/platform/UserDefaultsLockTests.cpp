#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "tests/support/LockHolder.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <sys/file.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

// Another process stopped or hung while it holds the folder's lock: a change
// waits for it only so long, then stays in effect here unsaved (as on a full
// disk), logged once over every retry, and lands with the first retry after
// the holder lets go. A suite opened meanwhile reads the file without the
// lock, and its removal waits as briefly.
TEST(UserDefaults, ALockAnotherProcessKeepsIsWaitedForBrieflyAndItsChangesLandOnceLetGo) {
    auto log = std::make_shared<MemoryLogSink>();
    Logger::setSink(log);
    struct Restore {
        ~Restore() { Logger::setSink(nullptr); }
    } restore;
    constexpr std::chrono::milliseconds wait{200};
    TempDir dir;
    auto suite = UserDefaults::open("held", dir.path(), {}, {}, wait);
    ASSERT_TRUE(suite);
    ASSERT_TRUE(suite->set("a", 1));
    const std::string before = brindleaf::testing::readFile(suite->filePath());

    brindleaf::testing::LockHolder holder(dir / ".defaults.lock");
    ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";
    EXPECT_FALSE(suite->set("statusIconStyle.v1", "cloud"));
    ASSERT_TRUE(holder.holds()) << "the change waited until the holder gave up after "
                                << brindleaf::testing::LockHolder::giveUpSeconds << " s";
    EXPECT_TRUE(suite->hasUnsavedChanges());
    EXPECT_EQ(suite->string("statusIconStyle.v1"), "cloud");
    for (int retry = 0; retry < 5; ++retry) EXPECT_FALSE(suite->saveUnsavedChanges());
    EXPECT_FALSE(suite->set("b", 2));
    auto other = UserDefaults::open("held", dir.path(), {}, {}, wait);
    ASSERT_TRUE(other) << "opening waits as briefly";
    EXPECT_EQ(other->integer("a"), 1);
    EXPECT_FALSE(other->removePersistentDomain());
    ASSERT_TRUE(holder.holds()) << "a retry, change or opening waited until the holder gave up";
    EXPECT_EQ(brindleaf::testing::readFile(suite->filePath()), before);
    EXPECT_EQ(log->messages(), (std::vector<std::string>{
                                   "defaults.lock.failed suite=held error=held by another process",
                                   "defaults.lock.failed suite=held error=held by another process mode=read-only",
                               }));

    ASSERT_TRUE(holder.release()) << "the other process did not let go";
    EXPECT_TRUE(suite->saveUnsavedChanges());
    EXPECT_FALSE(suite->hasUnsavedChanges());
    auto reread = UserDefaults::open("held", dir.path());
    EXPECT_EQ(reread->integer("a"), 1);
    EXPECT_EQ(reread->integer("b"), 2);
    EXPECT_EQ(reread->string("statusIconStyle.v1"), "cloud");
    EXPECT_TRUE(other->removePersistentDomain());
    EXPECT_FALSE(std::filesystem::exists(suite->filePath()));
}

// A lock another writer holds for a moment is waited for: the change is
// saved, nothing logged, and the lock is only ever tried without blocking.
TEST(UserDefaults, ALockHeldForAMomentIsWaitedFor) {
    auto log = std::make_shared<MemoryLogSink>();
    Logger::setSink(log);
    struct Restore {
        ~Restore() { Logger::setSink(nullptr); }
    } restore;
    auto busy = std::make_shared<std::atomic<int>>(0);
    auto blocking = std::make_shared<std::atomic<bool>>(false);
    const UserDefaults::LockFunction lock = [busy, blocking](int fd, int operation) {
        if ((operation & LOCK_EX) && !(operation & LOCK_NB)) blocking->store(true);
        if ((operation & LOCK_EX) && busy->load() > 0) {
            busy->fetch_sub(1);
            errno = EWOULDBLOCK;
            return -1;
        }
        return ::flock(fd, operation);
    };
    TempDir dir;
    auto suite = UserDefaults::open("moment", dir.path(), {}, lock);
    ASSERT_TRUE(suite);
    busy->store(3);
    EXPECT_TRUE(suite->set("a", 1));
    EXPECT_EQ(busy->load(), 0);
    busy->store(3);
    EXPECT_TRUE(suite->removePersistentDomain());
    EXPECT_FALSE(blocking->load()) << "a lock was waited for without limit";
    EXPECT_EQ(log->messages(), std::vector<std::string>{});
}
