#include "core/DatabaseQueryCache.hpp"
#include "core/FileSnapshotCache.hpp"
#include "core/FileStat.hpp"
#include "core/StringPredicateMemo.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <set>
#include <stdexcept>
#include <thread>

using namespace brindleaf;
using brindleaf::testing::readFile;
using brindleaf::testing::setFileTime;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;

TEST(FileStatTests, reportsSizeAndNanosecondModificationTimeAndAbsentOnFailure) {
    TempDir dir;
    auto path = dir.write("a.txt", "hello");
    setFileTime(path, 1700000000.25);
    auto info = FileStat::info(path.string());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size, 5u);
    EXPECT_DOUBLE_EQ(info->modifiedAt, 1700000000.25);
    EXPECT_EQ(FileStat::modificationDate(path.string()), info->modifiedAt);

    EXPECT_FALSE(FileStat::info((dir / "missing").string()));
    EXPECT_FALSE(FileStat::modificationDate((dir / "missing").string()));
    EXPECT_FALSE(FileStat::info(path.string() + "/below-a-file"));

    // Links are followed: the target's facts.
    std::filesystem::create_symlink(path, dir / "link");
    EXPECT_EQ(FileStat::info((dir / "link").string()), info);
}

namespace {

struct CountingLoader {
    std::atomic<int> calls{0};
    std::string path;
    std::string operator()() {
        ++calls;
        return readFile(path);
    }
};

} // namespace

TEST(FileSnapshotCacheTests, reusesValueUntilSizeOrTimeChanges) {
    TempDir dir;
    auto path = dir.write("state.json", "one");
    setFileTime(path, 1700000000.123456789);
    FileSnapshotCache<std::string> cache(8);
    int loads = 0;
    auto load = [&] {
        ++loads;
        return readFile(path);
    };

    EXPECT_EQ(cache.value(path.string(), load), "one");
    EXPECT_EQ(cache.value(path.string(), load), "one");
    EXPECT_EQ(loads, 1);

    // Same size, same time: the old value stays even though the bytes differ.
    writeFile(path, "two");
    setFileTime(path, 1700000000.123456789);
    EXPECT_EQ(cache.value(path.string(), load), "one");
    EXPECT_EQ(loads, 1);

    // Only the modification time changed.
    setFileTime(path, 1700000001.0);
    EXPECT_EQ(cache.value(path.string(), load), "two");
    EXPECT_EQ(loads, 2);

    // Only the size changed.
    writeFile(path, "three");
    setFileTime(path, 1700000001.0);
    EXPECT_EQ(cache.value(path.string(), load), "three");
    EXPECT_EQ(loads, 3);
    EXPECT_EQ(cache.count(), 1u);
}

TEST(FileSnapshotCacheTests, missingFileLoadsEveryTimeAndKeepsOldEntry) {
    TempDir dir;
    auto path = dir.write("gone.json", "data");
    FileSnapshotCache<std::string> cache(8);
    int loads = 0;
    auto load = [&] {
        ++loads;
        return std::string("v") + std::to_string(loads);
    };
    EXPECT_EQ(cache.value(path.string(), load), "v1");
    std::filesystem::remove(path);
    EXPECT_EQ(cache.value(path.string(), load), "v2");
    EXPECT_EQ(cache.value(path.string(), load), "v3");
    EXPECT_EQ(cache.count(), 1u); // the entry from before the file went
    ASSERT_EQ(cache.entriesByRecency().size(), 1u);
    EXPECT_EQ(cache.entriesByRecency().front().second.value, "v1");
}

TEST(FileSnapshotCacheTests, variantsAndPassedInfoKeepEntriesApart) {
    TempDir dir;
    auto path = dir.write("t.jsonl", "abc");
    FileSnapshotCache<std::string> cache(256);
    EXPECT_EQ(cache.value(path.string(), "", std::nullopt, [] { return std::string("tail"); }), "tail");
    EXPECT_EQ(cache.value(path.string(), "8388608", std::nullopt, [] { return std::string("deep"); }), "deep");
    EXPECT_EQ(cache.value(path.string(), "", std::nullopt, [] { return std::string("x"); }), "tail");
    EXPECT_EQ(cache.value(path.string(), "8388608", std::nullopt, [] { return std::string("x"); }), "deep");
    EXPECT_EQ(cache.count(), 2u);

    // A passed info stands for the file: a different one is a miss even
    // though the file itself is unchanged, and the file need not exist.
    FileStat::Info other{999, 5.0};
    EXPECT_EQ(cache.value(path.string(), "", other, [] { return std::string("passed"); }), "passed");
    EXPECT_EQ(cache.value(path.string(), "", other, [] { return std::string("x"); }), "passed");
    EXPECT_EQ(cache.value((dir / "nowhere").string(), "", other, [] { return std::string("n"); }), "n");
    EXPECT_EQ(cache.value((dir / "nowhere").string(), "", other, [] { return std::string("x"); }), "n");
}

TEST(FileSnapshotCacheTests, overflowKeepsTheMostRecentlyUsedHalf) {
    FileSnapshotCache<int> cache(8);
    auto info = FileStat::Info{1, 1.0};
    for (int i = 0; i < 8; ++i) cache.value("/f" + std::to_string(i), "", info, [i] { return i; });
    // Touch 0 and 1 so they are the most recent before the ninth store.
    cache.value("/f0", "", info, [] { return -1; });
    cache.value("/f1", "", info, [] { return -1; });
    EXPECT_EQ(cache.count(), 8u);
    EXPECT_EQ(cache.value("/f8", "", info, [] { return 8; }), 8);

    auto entries = cache.entriesByRecency();
    ASSERT_EQ(entries.size(), 4u);
    std::vector<std::string> paths;
    for (auto& [key, entry] : entries) paths.push_back(key.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/f8", "/f1", "/f0", "/f7"}));
    EXPECT_GT(entries[0].second.lastUsed, entries[1].second.lastUsed);

    // Hits never evict.
    for (int i = 0; i < 20; ++i) cache.value("/f8", "", info, [] { return -1; });
    EXPECT_EQ(cache.count(), 4u);
}

TEST(FileSnapshotCacheTests, concurrentCallersAllGetAValueAndTheCacheStaysBounded) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
        const std::string number = std::to_string(i);
        paths.push_back((dir.path() / "f").concat(number).string());
        writeFile(paths.back(), number);
    }
    FileSnapshotCache<std::string> cache(16);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const std::string& path = paths[static_cast<std::size_t>((round * 7 + t) % 40)];
                if (cache.value(path, [&] { return readFile(path); }) != readFile(path)) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(cache.count(), 16u);
}

TEST(FileSnapshotCacheTests, loadRunsOutsideTheLock) {
    // A loader that itself uses the cache (another key) would deadlock if the
    // lock were held while loading.
    TempDir dir;
    auto a = dir.write("a", "a");
    auto b = dir.write("b", "b");
    FileSnapshotCache<std::string> cache(8);
    auto value = cache.value(a.string(), [&] {
        std::string combined = "a+";
        combined += cache.value(b.string(), [] { return std::string("b"); });
        return combined;
    });
    EXPECT_EQ(value, "a+b");
    EXPECT_EQ(cache.count(), 2u);
}

TEST(DatabaseQueryCacheTests, reusesResultWhileDatabaseAndWalAreUnchanged) {
    TempDir dir;
    auto db = dir.write("state.sqlite", "db");
    setFileTime(db, 1700000000);
    DatabaseQueryCache<std::vector<int>> cache;
    int queries = 0;
    auto query = [&] {
        ++queries;
        return std::vector<int>{queries};
    };
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{1});
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{1});
    EXPECT_EQ(queries, 1);

    // A "-wal" file appearing, then changing alone, invalidates.
    auto wal = dir.write("state.sqlite-wal", "w");
    setFileTime(wal, 1700000000);
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{2});
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{2});
    setFileTime(wal, 1700000005);
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{3});
    writeFile(wal, "ww");
    setFileTime(wal, 1700000005);
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{4});

    // Another key on the same path is a miss and replaces the slot.
    EXPECT_EQ(cache.read(db.string(), "other", query), std::vector<int>{5});
    EXPECT_EQ(cache.read(db.string(), "", query), std::vector<int>{6});
    EXPECT_EQ(queries, 6);
}

TEST(DatabaseQueryCacheTests, missingDatabaseNeverHitsAndFailedQueryKeepsTheSlot) {
    TempDir dir;
    auto db = dir.write("logs.sqlite", "db");
    DatabaseQueryCache<int> cache;
    EXPECT_EQ(cache.read(db.string(), "k", [] { return 1; }), 1);

    // A failing query goes to the caller and the old result stays.
    EXPECT_THROW(cache.read(db.string(), "k", []() -> int { throw std::runtime_error("busy"); }, [](int) { return false; }),
                 std::runtime_error);
    EXPECT_EQ(cache.read(db.string(), "k", [] { return 2; }), 1);

    // The extra test can refuse the cached value.
    EXPECT_EQ(cache.read(db.string(), "k", [] { return 3; }, [](int cached) { return cached >= 2; }), 3);

    std::filesystem::remove(db);
    const auto missing = DatabaseQueryCache<int>::Signature::of(db.string());
    EXPECT_FALSE(missing.databaseSize);
    EXPECT_FALSE(cache.lookup(db.string(), "k", missing));
    // A store under a signature of a missing file is never returned.
    cache.store(db.string(), "k", missing, 9);
    EXPECT_FALSE(cache.lookup(db.string(), "k", missing));
    int queries = 0;
    cache.read(db.string(), "k", [&] { return ++queries; });
    cache.read(db.string(), "k", [&] { return ++queries; });
    EXPECT_EQ(queries, 2);
}

TEST(DatabaseQueryCacheTests, storesTheSignatureTakenBeforeTheQuery) {
    TempDir dir;
    auto db = dir.write("state.sqlite", "db");
    setFileTime(db, 1700000000);
    DatabaseQueryCache<int> cache;
    // The database changes while the query runs: the next read queries again.
    EXPECT_EQ(cache.read(db.string(), "", [&] {
        writeFile(db, "db-changed");
        return 1;
    }),
              1);
    EXPECT_EQ(cache.read(db.string(), "", [] { return 2; }), 2);
    EXPECT_EQ(cache.read(db.string(), "", [] { return 3; }), 2);
}

TEST(StringPredicateMemoTests, remembersAnswersAndEmptiesWholeWhenFull) {
    std::atomic<int> calls{0};
    StringPredicateMemo memo([&](std::string_view text) {
        ++calls;
        return text.find("shell-snapshots") != std::string_view::npos;
    });
    EXPECT_TRUE(memo.evaluate("bash /tmp/shell-snapshots/x.sh"));
    EXPECT_TRUE(memo.evaluate("bash /tmp/shell-snapshots/x.sh"));
    EXPECT_FALSE(memo.evaluate("node claude"));
    EXPECT_EQ(calls.load(), 2);

    for (int i = 0; memo.count() < 8193; ++i) memo.evaluate("cmd " + std::to_string(i));
    EXPECT_EQ(memo.count(), 8193u);
    // A hit does not empty it.
    EXPECT_FALSE(memo.evaluate("node claude"));
    EXPECT_EQ(memo.count(), 8193u);
    // The next miss empties it and leaves only its own answer.
    const int before = calls.load();
    EXPECT_TRUE(memo.evaluate("sh shell-snapshots new"));
    EXPECT_EQ(memo.count(), 1u);
    EXPECT_EQ(calls.load(), before + 1);
    EXPECT_FALSE(memo.evaluate("node claude"));
    EXPECT_EQ(calls.load(), before + 2);
}

TEST(StringPredicateMemoTests, longTextsEmptyItBeforeTheirBytesPassTheBudget) {
    int calls = 0;
    StringPredicateMemo memo([&](std::string_view) {
        ++calls;
        return false;
    });
    const std::string link(64 * 1024, 'o');
    for (int i = 0; i < 200; ++i) {
        memo.evaluate(std::to_string(i) + link);
        ASSERT_LE(memo.textBytes(), StringPredicateMemo::textBudget);
    }
    EXPECT_GT(memo.count(), 1u);
    EXPECT_LT(memo.count(), 64u);
    // A text beyond the budget is tested every time, and empties nothing.
    const std::size_t held = memo.count();
    const std::string huge(StringPredicateMemo::textBudget + 1, 'x');
    calls = 0;
    memo.evaluate(huge);
    memo.evaluate(huge);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(memo.count(), held);
}

TEST(StringPredicateMemoTests, predicateRunsOutsideTheLockAndConcurrentUseAgrees) {
    std::mutex gate;
    std::condition_variable released;
    bool open = false;
    std::atomic<int> waiting{0};
    StringPredicateMemo memo([&](std::string_view text) {
        if (text == "slow") {
            ++waiting;
            std::unique_lock<std::mutex> lock(gate);
            released.wait(lock, [&] { return open; });
        }
        return text.size() % 2 == 0;
    });
    std::thread slow([&] { EXPECT_TRUE(memo.evaluate("slow")); });
    while (waiting.load() == 0) std::this_thread::yield();
    // While the slow predicate runs, other texts are answered.
    EXPECT_FALSE(memo.evaluate("odd"));
    EXPECT_TRUE(memo.evaluate("even"));
    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
    }
    released.notify_all();
    slow.join();

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                std::string text(static_cast<std::size_t>(i % 97), 'x');
                if (memo.evaluate(text) != (text.size() % 2 == 0)) ++wrong;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
