#include "platform/DefaultsJSON.hpp"
#include "platform/UserDefaults.hpp"
#include "tests/support/CapturedLog.hpp"
#include "tests/support/LockHolder.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <sys/file.h>
#include <thread>

using namespace brindleaf;
using brindleaf::testing::CapturedLog;
using brindleaf::testing::TempDir;

namespace {

// Waits for a condition that another thread or process brings about, checking
// every 10 ms for up to 20 s; whether it holds.
bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The string the suite's file holds now under a key.
std::optional<std::string> storedString(const std::filesystem::path& file, const std::string& key) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return std::nullopt;
    const auto document = DefaultsJSON::read(brindleaf::testing::readFile(file));
    if (!document) return std::nullopt;
    const auto found = document->values.find(key);
    if (found == document->values.end() || !found->second.asString()) return std::nullopt;
    return *found->second.asString();
}

// Waits until the suite's file holds `value` under `key`, as the background
// retry writes it once the lock is free.
::testing::AssertionResult writtenOnceFree(const UserDefaults& suite, const std::string& key,
                                           const std::string& value) {
    if (waitUntil([&] { return storedString(suite.filePath(), key) == value; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the unsaved change was not written once the lock was free";
}

// Counts the tries of the lock made on the thread that made it and on every
// other thread (the suite's background retry).
struct LockTries {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> byCaller{0};
    std::atomic<int> elsewhere{0};

    static UserDefaults::LockFunction counting(std::shared_ptr<LockTries> tries) {
        return [tries](int fd, int operation) {
            if (operation & LOCK_EX)
                (std::this_thread::get_id() == tries->caller ? tries->byCaller : tries->elsewhere).fetch_add(1);
            return ::flock(fd, operation);
        };
    }
};

// Waiting lockWait makes about a hundred tries (the pauses between them grow
// to 20 ms); a wait as short as the calling thread's bound, fewer than ten.
constexpr int briefWaitTries = 15;

} // namespace

// Another process stopped or hung while it holds the folder's lock: a change
// waits for it only so long, then stays in effect here unsaved (as on a full
// disk), logged once over every retry (the background retry's among them),
// and lands with the first retry after the holder lets go. A suite opened meanwhile reads the file without the
// lock, and its removal waits as briefly.
TEST(UserDefaults, ALockAnotherProcessKeepsIsWaitedForBrieflyAndItsChangesLandOnceLetGo) {
    CapturedLog log;
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
    // The background retry waits `wait` at a time for the lock, and says so.
    ASSERT_TRUE(waitUntil([&] {
        return log.contains("defaults.lock.failed suite=held error=held by another process");
    })) << "the background retry never gave up waiting for the held lock";
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

// A lock another writer holds for a moment: the calling thread tries it once
// and keeps the change unsaved, the background retry waits for it and saves
// the change, nothing is logged, and the lock is only ever tried without
// blocking.
TEST(UserDefaults, ALockHeldForAMomentIsWaitedFor) {
    CapturedLog log;
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
    EXPECT_FALSE(suite->set("a", 1)) << "the calling thread waited for the lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (suite->hasUnsavedChanges() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(suite->hasUnsavedChanges()) << "the background retry never saved the change";
    EXPECT_EQ(busy->load(), 0);
    busy->store(3);
    EXPECT_TRUE(suite->removePersistentDomain());
    EXPECT_FALSE(blocking->load()) << "a lock was waited for without limit";
    EXPECT_EQ(log->messages(), std::vector<std::string>{});
}

// A peer holds the lock (flock(1) in a terminal) while a setting changes. The
// calling thread (the UI thread) tries it once, opening waits only briefly;
// the background retry then waits, says once that the lock is held, and
// writes the change once the holder lets go, with no further change made. A
// later brief hold is waited for in full again: the long hold before does not
// shorten it.
TEST(UserDefaults, AChangeTheLockHoldsUpIsWrittenInTheBackgroundOnceLetGo) {
    CapturedLog log;
    auto tries = std::make_shared<LockTries>();
    TempDir dir;
    auto suite = UserDefaults::open("trial", dir.path(), {}, LockTries::counting(tries));
    ASSERT_TRUE(suite);
    ASSERT_TRUE(suite->set("size", "medium"));

    std::optional<brindleaf::testing::LockHolder> holder(std::in_place, dir / ".defaults.lock");
    ASSERT_TRUE(holder->waitUntilHeld()) << "the other process never took the lock";
    tries->byCaller = 0;
    auto opened = UserDefaults::open("trial", dir.path(), {}, LockTries::counting(tries));
    ASSERT_TRUE(opened);
    EXPECT_LE(tries->byCaller.load(), briefWaitTries) << "opening waited for the lock as long as the retry does";
    EXPECT_EQ(opened->string("size"), "medium");
    opened.reset();

    tries->byCaller = 0;
    EXPECT_FALSE(suite->set("size", "large"));
    EXPECT_EQ(tries->byCaller.load(), 1) << "the change on the calling thread tried the lock more than once";
    tries->byCaller = 0;
    EXPECT_FALSE(suite->saveUnsavedChanges());
    EXPECT_EQ(tries->byCaller.load(), 1) << "the refresh's save on the calling thread tried the lock more than once";
    EXPECT_EQ(suite->string("size"), "large");
    ASSERT_TRUE(waitUntil([&] {
        return log.contains("defaults.lock.failed suite=trial error=held by another process");
    })) << "the background retry never gave up waiting for the held lock";
    ASSERT_TRUE(holder->holds()) << "the holder gave up after " << brindleaf::testing::LockHolder::giveUpSeconds
                                 << " s";
    EXPECT_EQ(storedString(suite->filePath(), "size"), "medium");
    ASSERT_TRUE(holder->release()) << "the other process did not let go";
    EXPECT_TRUE(writtenOnceFree(*suite, "size", "large"));
    EXPECT_TRUE(waitUntil([&] { return !suite->hasUnsavedChanges(); }));

    // Held again for a moment only: the calling thread gives up as briefly
    // as before, the background retry waits until the holder lets go.
    holder.emplace(dir / ".defaults.lock");
    ASSERT_TRUE(holder->waitUntilHeld()) << "the other process never took the lock again";
    EXPECT_FALSE(suite->set("size", "small"));
    ASSERT_TRUE(holder->release()) << "the other process did not let go";
    EXPECT_TRUE(writtenOnceFree(*suite, "size", "small"));
    EXPECT_GT(tries->elsewhere.load(), 0) << "no try of the lock was made off the calling thread";
    EXPECT_EQ(log->messages(), (std::vector<std::string>{
                                   "defaults.lock.failed suite=trial error=held by another process mode=read-only",
                                   "defaults.lock.failed suite=trial error=held by another process",
                               }))
        << "a brief hold after a long one was given up on as a long one";
}

// Quit: what is still unsaved is written when the holder lets go within the
// bound, so the next start reads it; held past the bound, one line names the
// keys not saved. A suite that ends without (a headless run) does the same.
TEST(UserDefaults, TheEndWritesWhatIsUnsavedOrNamesTheKeysDropped) {
    struct Case {
        const char* name;
        bool letGoWhileWaiting;
        std::chrono::milliseconds bound;
        bool byDestruction;
    } cases[] = {
        {"let go within the bound", true, UserDefaults::lockWait, false},
        {"held past the bound", false, std::chrono::milliseconds(300), false},
        {"the suite destroyed, let go within the bound", true, UserDefaults::lockWait, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedLog log;
        auto ending = std::make_shared<std::atomic<bool>>(false);
        auto triesWhileEnding = std::make_shared<std::atomic<int>>(0);
        // Tries of the end itself, on this thread (not the background retry's).
        const UserDefaults::LockFunction lock = [ending, triesWhileEnding,
                                                 self = std::this_thread::get_id()](int fd, int operation) {
            if ((operation & LOCK_EX) && ending->load() && std::this_thread::get_id() == self)
                triesWhileEnding->fetch_add(1);
            return ::flock(fd, operation);
        };
        TempDir dir;
        auto suite = UserDefaults::open("quit", dir.path(), {}, lock);
        ASSERT_TRUE(suite);
        brindleaf::testing::LockHolder holder(dir / ".defaults.lock");
        ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";
        EXPECT_FALSE(suite->set("size", "large"));
        EXPECT_FALSE(suite->set("theme", "dark"));

        // Lets go once the end has waited for the lock longer than a change
        // on the calling thread would.
        std::atomic<bool> letGo{false};
        std::thread releaser;
        if (c.letGoWhileWaiting) {
            releaser = std::thread([&] {
                if (waitUntil([&] { return triesWhileEnding->load() > briefWaitTries; })) letGo = holder.release();
            });
        }
        ending->store(true);
        bool saved = false;
        if (c.byDestruction) {
            suite.reset();
            saved = true;
        } else {
            saved = suite->saveUnsavedChangesBeforeExit(c.bound);
        }
        if (releaser.joinable()) releaser.join();
        if (c.letGoWhileWaiting) {
            ASSERT_TRUE(letGo) << "the other process did not let go while the end waited";
            EXPECT_TRUE(saved);
            EXPECT_EQ(log->messages(), std::vector<std::string>{});
        } else {
            ASSERT_TRUE(holder.holds()) << "the holder gave up by itself";
            EXPECT_FALSE(saved);
            EXPECT_EQ(log->messages(), (std::vector<std::string>{
                                           "defaults.lock.failed suite=quit error=held by another process",
                                           "defaults.unsaved.dropped suite=quit keys=size,theme",
                                       }));
            ASSERT_TRUE(holder.release()) << "the other process did not let go";
        }
        suite.reset();
        auto restarted = UserDefaults::open("quit", dir.path());
        ASSERT_TRUE(restarted);
        EXPECT_EQ(restarted->string("size"), c.letGoWhileWaiting ? std::optional<std::string>("large") : std::nullopt);
        EXPECT_EQ(restarted->string("theme"), c.letGoWhileWaiting ? std::optional<std::string>("dark") : std::nullopt);
    }
}

// Quit while the background retry waits for a held lock: the stop cuts that
// wait short, so Quit ends within its own bound, not the retry's.
TEST(UserDefaults, QuitEndsWithinItsBoundWhileTheRetryWaitsForAHeldLock) {
    CapturedLog log;
    auto tries = std::make_shared<LockTries>();
    TempDir dir;
    auto suite = UserDefaults::open("bounded", dir.path(), {}, LockTries::counting(tries));
    ASSERT_TRUE(suite);
    brindleaf::testing::LockHolder holder(dir / ".defaults.lock");
    ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";
    EXPECT_FALSE(suite->set("size", "large"));
    // The retry has begun its first attempt, which waits lockWait (2 s).
    ASSERT_TRUE(waitUntil([&] { return tries->elsewhere.load() > 0; })) << "no background retry began";
    constexpr auto bound = std::chrono::milliseconds(300);
    const auto started = std::chrono::steady_clock::now();
    auto ended = std::async(std::launch::async, [&] { return suite->saveUnsavedChangesBeforeExit(bound); });
    // A condition with a deadline: the end within its bound and a second of slack.
    ASSERT_EQ(ended.wait_until(started + bound + std::chrono::seconds(1)), std::future_status::ready)
        << "Quit did not end within its bound while the retry waited for the lock";
    EXPECT_FALSE(ended.get());
    EXPECT_TRUE(log.contains("defaults.unsaved.dropped suite=bounded keys=size"));
    ASSERT_TRUE(holder.release()) << "the other process did not let go";
}

// A long hold is logged once per hold: after a write in between, the next
// long hold is logged again.
TEST(UserDefaults, EachLongHoldIsLoggedAfterAWriteInBetween) {
    CapturedLog log;
    TempDir dir;
    auto suite = UserDefaults::open("holds", dir.path(), {}, {}, std::chrono::milliseconds(100));
    ASSERT_TRUE(suite);
    const std::string held = "defaults.lock.failed suite=holds error=held by another process";
    const auto heldLines = [&] {
        const auto messages = log->messages();
        return std::count(messages.begin(), messages.end(), held);
    };
    for (const char* value : {"large", "small"}) {
        SCOPED_TRACE(value);
        brindleaf::testing::LockHolder holder(dir / ".defaults.lock");
        ASSERT_TRUE(holder.waitUntilHeld()) << "the other process never took the lock";
        const auto before = heldLines();
        EXPECT_FALSE(suite->set("size", value));
        EXPECT_TRUE(waitUntil([&] { return heldLines() == before + 1; })) << "the long hold was not logged";
        ASSERT_TRUE(holder.release()) << "the other process did not let go";
        EXPECT_TRUE(writtenOnceFree(*suite, "size", value));
    }
}
