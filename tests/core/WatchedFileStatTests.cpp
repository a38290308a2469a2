#include "core/FileStat.hpp"
#include "core/WatchedFileStat.hpp"
#include "platform/FakeFileEventSource.hpp"
#include "platform/FileEventSource.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <set>
#include <thread>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::setFileTime;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<WatchedFileStat> watchedCache(WatchedFileStat::Limits limits = {}) {
    auto source = InotifyFileEventSource::create();
    if (!source) return nullptr;
    return std::make_unique<WatchedFileStat>(std::move(source), limits);
}

// Built step by step: g++ 12 warns wrongly about "literal" + std::string.
std::string numbered(std::string_view before, int number, std::string_view after = {}) {
    std::string text(before);
    text += std::to_string(number);
    text += after;
    return text;
}

void append(const fs::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

std::set<std::pair<std::string, unsigned char>> listing(const std::shared_ptr<const std::vector<WatchedFileStat::Entry>>& entries) {
    std::set<std::pair<std::string, unsigned char>> result;
    if (entries) {
        for (const auto& entry : *entries) result.emplace(entry.name, entry.type);
    }
    return result;
}

// What readdir says right now.
std::set<std::pair<std::string, unsigned char>> listingOnDisk(const fs::path& folder) {
    std::set<std::pair<std::string, unsigned char>> result;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return result;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") result.emplace(name, entry->d_type);
    }
    ::closedir(dir);
    return result;
}

// The cache must agree with a fresh stat() of the path.
#define EXPECT_AGREES(cache, path)                                                                              \
    EXPECT_EQ((cache).info((path).string()), FileStat::info((path).string())) << "path " << (path).string()

#define REQUIRE_INOTIFY(cache)                                                                                  \
    if (!(cache)) GTEST_SKIP() << "inotify unavailable"

} // namespace

TEST(WatchedFileStatTests, unchangedFilesFoldersAndListingsAreAnsweredFromMemory) {
    TempDir dir;
    auto file = dir.write("project/a.jsonl", "one\n");
    dir.write("project/b.jsonl", "two\n");
    auto folder = dir / "project";
    auto missing = dir / "project/none.jsonl";
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);

    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_AGREES(*cache, folder);
    EXPECT_FALSE(cache->info(missing.string()));
    EXPECT_FALSE(cache->exists(missing.string()));
    EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder));
    EXPECT_EQ(cache->entries((dir / "nowhere").string()), nullptr);

    uint64_t calls = cache->fileSystemCalls();
    for (int round = 0; round < 3; ++round) {
        cache->refresh();
        EXPECT_AGREES(*cache, file);
        EXPECT_AGREES(*cache, folder);
        EXPECT_FALSE(cache->info(missing.string()));
        EXPECT_TRUE(cache->exists(file.string()));
        EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder));
        EXPECT_EQ(cache->entries((dir / "nowhere").string()), nullptr);
    }
    // The checks above made their own stat() calls, not the cache.
    EXPECT_EQ(cache->fileSystemCalls(), calls);
    // Listings are shared, not rebuilt.
    EXPECT_EQ(cache->entries(folder.string()), cache->entries(folder.string()));
}

TEST(WatchedFileStatTests, fileChangesAreSeenAfterTheNextRefresh) {
    TempDir dir;
    auto file = dir.write("sessions/s.jsonl", "start\n");
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);
    EXPECT_AGREES(*cache, file);

    // Appending changes size and time.
    setFileTime(file, 1700000000.5);
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    append(file, "more\n");
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_EQ(cache->info(file.string())->size, 11u);

    // Only the time changes.
    setFileTime(file, 1600000000.25);
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_DOUBLE_EQ(cache->info(file.string())->modifiedAt, 1600000000.25);

    // Truncated in place.
    fs::resize_file(file, 2);
    cache->refresh();
    EXPECT_AGREES(*cache, file);

    // Replaced by renaming another file over it.
    auto replacement = dir.write("sessions/.s.jsonl.tmp", "replaced by a longer text\n");
    setFileTime(replacement, 1500000000);
    fs::rename(replacement, file);
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_DOUBLE_EQ(cache->info(file.string())->modifiedAt, 1500000000);

    // Deleted, then created again: the remembered absence is forgotten too.
    fs::remove(file);
    cache->refresh();
    EXPECT_FALSE(cache->info(file.string()));
    EXPECT_FALSE(cache->info(file.string()));
    writeFile(file, "back");
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_EQ(cache->info(file.string())->size, 4u);

    // A file created where a folder is missing.
    auto deep = dir / "later/inner/x.json";
    EXPECT_FALSE(cache->info(deep.string()));
    EXPECT_FALSE(cache->info((dir / "later/inner").string()));
    cache->refresh();
    EXPECT_FALSE(cache->info(deep.string()));
    writeFile(deep, "{}");
    cache->refresh();
    EXPECT_AGREES(*cache, deep);
    EXPECT_AGREES(*cache, dir / "later/inner");
}

TEST(WatchedFileStatTests, movingOrRemovingFoldersOnTheWayIsSeen) {
    TempDir dir;
    auto file = dir.write("home/projects/p1/t.jsonl", "abc");
    auto folder = dir / "home/projects/p1";
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);
    EXPECT_AGREES(*cache, file);
    EXPECT_AGREES(*cache, folder);
    EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder));

    // The parent folder moves away, then comes back with other contents.
    fs::rename(folder, dir / "home/projects/p1-old");
    cache->refresh();
    EXPECT_FALSE(cache->info(file.string()));
    EXPECT_FALSE(cache->info(folder.string()));
    EXPECT_EQ(cache->entries(folder.string()), nullptr);
    writeFile(dir / "home/projects/p2/t.jsonl", "a longer transcript");
    fs::rename(dir / "home/projects/p2", folder);
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_EQ(cache->info(file.string())->size, 19u);
    EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder));

    // A grand-parent folder moves away.
    fs::rename(dir / "home/projects", dir / "home/elsewhere");
    cache->refresh();
    EXPECT_FALSE(cache->info(file.string()));
    EXPECT_EQ(cache->entries(folder.string()), nullptr);
    // What moved is still right at its new place.
    EXPECT_AGREES(*cache, dir / "home/elsewhere/p1/t.jsonl");
    fs::rename(dir / "home/elsewhere", dir / "home/projects");
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_AGREES(*cache, dir / "home/elsewhere/p1/t.jsonl");

    // A grand-parent folder replaced by another one holding the same names.
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    fs::rename(dir / "home/projects", dir / "home/previous");
    writeFile(file, "replacement");
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    append(file, " grows");
    append(dir / "home/previous/p1/t.jsonl", " also grows");
    cache->refresh();
    EXPECT_AGREES(*cache, file);
    EXPECT_AGREES(*cache, dir / "home/previous/p1/t.jsonl");
    EXPECT_EQ(cache->info(file.string())->size, 17u);

    // Removed altogether, then a file takes a folder's place.
    fs::remove_all(dir / "home/projects");
    cache->refresh();
    EXPECT_FALSE(cache->info(file.string()));
    EXPECT_FALSE(cache->info(folder.string()));
    writeFile(dir / "home/projects", "not a folder");
    cache->refresh();
    EXPECT_FALSE(cache->info(file.string()));
    EXPECT_EQ(cache->entries(folder.string()), nullptr);
    EXPECT_AGREES(*cache, dir / "home/projects");

    // A folder losing its permissions hides what is below it (unless running as root).
    writeFile(dir / "locked/f.txt", "x");
    EXPECT_AGREES(*cache, dir / "locked/f.txt");
    fs::permissions(dir / "locked", fs::perms::none);
    cache->refresh();
    EXPECT_AGREES(*cache, dir / "locked/f.txt");
    fs::permissions(dir / "locked", fs::perms::owner_all);
    cache->refresh();
    EXPECT_AGREES(*cache, dir / "locked/f.txt");
}

TEST(WatchedFileStatTests, folderTimesAndListingsFollowTheirEntries) {
    TempDir dir;
    auto folder = dir / "projects";
    writeFile(folder / "one.jsonl", "1");
    fs::create_directory(folder / "sub");
    setFileTime(folder, 1000);
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);
    EXPECT_AGREES(*cache, folder);
    EXPECT_DOUBLE_EQ(cache->info(folder.string())->modifiedAt, 1000);
    EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder));

    auto expectFolderMatchesDisk = [&](const char* step) {
        cache->refresh();
        EXPECT_EQ(cache->info(folder.string()), FileStat::info(folder.string())) << step;
        EXPECT_EQ(listing(cache->entries(folder.string())), listingOnDisk(folder)) << step;
    };
    writeFile(folder / "two.jsonl", "2");
    expectFolderMatchesDisk("created");
    EXPECT_NE(cache->info(folder.string())->modifiedAt, 1000);

    setFileTime(folder, 2000);
    expectFolderMatchesDisk("touched");
    fs::rename(folder / "one.jsonl", folder / "uno.jsonl");
    expectFolderMatchesDisk("renamed within");
    setFileTime(folder, 3000);
    expectFolderMatchesDisk("touched again");
    fs::remove(folder / "two.jsonl");
    expectFolderMatchesDisk("deleted");
    fs::rename(folder / "uno.jsonl", dir / "moved-out.jsonl");
    expectFolderMatchesDisk("moved out");
    writeFile(dir / "moved-in.jsonl", "in");
    fs::rename(dir / "moved-in.jsonl", folder / "moved-in.jsonl");
    expectFolderMatchesDisk("moved in");
    fs::create_directory(folder / "sub/deeper");
    expectFolderMatchesDisk("created below a subfolder");
    EXPECT_AGREES(*cache, folder / "sub");
    setFileTime(folder / "sub", 4000);
    cache->refresh();
    EXPECT_AGREES(*cache, folder / "sub");
    fs::create_directory(folder / "sub/other");
    cache->refresh();
    EXPECT_AGREES(*cache, folder / "sub");
    EXPECT_EQ(listing(cache->entries((folder / "sub").string())), listingOnDisk(folder / "sub"));

    // The file system root and a folder that appears later.
    EXPECT_EQ(listing(cache->entries("/")), listingOnDisk("/"));
    EXPECT_EQ(cache->entries((dir / "fresh").string()), nullptr);
    fs::create_directory(dir / "fresh");
    cache->refresh();
    ASSERT_NE(cache->entries((dir / "fresh").string()), nullptr);
    EXPECT_TRUE(cache->entries((dir / "fresh").string())->empty());
    // A listing of a file is null, like opendir.
    EXPECT_EQ(cache->entries((dir / "moved-out.jsonl").string()), nullptr);
}

TEST(WatchedFileStatTests, pathsThroughLinksAndOtherNamesAreRightButNeverRemembered) {
    TempDir dir;
    auto target = dir.write("real/store/s.jsonl", "data");
    fs::create_directory_symlink(dir / "real", dir / "link");
    fs::create_symlink(target, dir / "real/file-link");
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);

    const std::vector<std::string> uncached = {
        (dir / "link/store/s.jsonl").string(),        // a link on the way
        (dir / "real/file-link").string(),            // the file is a link
        (dir / "real/store/../store/s.jsonl").string(),
        (dir / "real//store/s.jsonl").string(),
        (dir / "real/./store/s.jsonl").string(),
        "relative/path",
        "",
    };
    for (const auto& path : uncached) EXPECT_EQ(cache->info(path), FileStat::info(path)) << path;
    EXPECT_EQ(listing(cache->entries((dir / "link/store").string())), listingOnDisk(dir / "real/store"));
    append(target, "+more");
    // Seen even without a refresh: these paths are asked every time.
    for (const auto& path : uncached) EXPECT_EQ(cache->info(path), FileStat::info(path)) << path;
    EXPECT_EQ(cache->info((dir / "link/store/s.jsonl").string())->size, 9u);
    writeFile(dir / "real/store/new.jsonl", "n");
    EXPECT_EQ(listing(cache->entries((dir / "link/store").string())), listingOnDisk(dir / "real/store"));

    uint64_t before = cache->fileSystemCalls();
    cache->info((dir / "link/store/s.jsonl").string());
    cache->entries((dir / "link/store").string());
    EXPECT_GE(cache->fileSystemCalls(), before + 2);

    // A link replaced to point elsewhere.
    writeFile(dir / "other/store/s.jsonl", "other target, longer");
    fs::remove(dir / "link");
    fs::create_directory_symlink(dir / "other", dir / "link");
    EXPECT_EQ(cache->info((dir / "link/store/s.jsonl").string())->size, 20u);

    // A file with a second name in another folder: writes through that name
    // must still be seen.
    auto original = dir.write("a/shared.jsonl", "12345");
    fs::create_directory(dir / "b");
    fs::create_hard_link(original, dir / "b/shared.jsonl");
    cache->refresh();
    EXPECT_AGREES(*cache, original);
    cache->refresh();
    EXPECT_AGREES(*cache, original);
    append(dir / "b/shared.jsonl", "678");
    cache->refresh();
    EXPECT_AGREES(*cache, original);
    EXPECT_EQ(cache->info(original.string())->size, 8u);

    // A second name made after the answer was remembered is not reported;
    // such changes are still seen within a bounded number of refreshes.
    auto single = dir.write("a/single.jsonl", "1");
    cache->refresh();
    EXPECT_AGREES(*cache, single);
    fs::create_hard_link(single, dir / "b/single.jsonl");
    append(dir / "b/single.jsonl", "23");
    for (int i = 0; i < 256; ++i) cache->refresh();
    EXPECT_AGREES(*cache, single);
}

TEST(WatchedFileStatTests, eventsFromTheSourceDecideWhatIsForgotten) {
    TempDir dir;
    auto file = dir.write("p/f.jsonl", "1");
    auto other = dir.write("p/g.jsonl", "1");
    auto folder = dir / "p";
    auto fake = std::make_unique<FakeFileEventSource>();
    FakeFileEventSource* events = fake.get();
    WatchedFileStat cache(std::move(fake));

    EXPECT_AGREES(cache, file);
    EXPECT_AGREES(cache, other);
    EXPECT_AGREES(cache, folder);
    auto firstListing = cache.entries(folder.string());
    // Every folder from the root down is watched.
    auto watched = events->watchedPaths();
    for (fs::path up = folder; ; up = up.parent_path()) {
        EXPECT_TRUE(events->watchOf(up.string())) << up;
        if (up == up.parent_path()) break;
    }
    EXPECT_EQ(cache.watchedFolders(), watched.size());

    // Changes the source does not report are not seen: answers come from memory.
    // (Real sources report every change; this shows what is remembered.)
    append(file, "22");
    append(other, "22");
    writeFile(folder / "h.jsonl", "new");
    cache.refresh();
    EXPECT_EQ(cache.info(file.string())->size, 1u);
    EXPECT_EQ(cache.entries(folder.string()), firstListing);

    // A change to one entry forgets that entry only.
    events->queue(folder.string(), FileEventSource::Kind::EntryChanged, "f.jsonl");
    cache.refresh();
    EXPECT_EQ(cache.info(file.string())->size, 3u);
    EXPECT_EQ(cache.info(other.string())->size, 1u);
    EXPECT_EQ(cache.entries(folder.string()), firstListing);

    // An entry appearing forgets the folder's own answer and listing.
    events->queue(folder.string(), FileEventSource::Kind::EntryMoved, "h.jsonl");
    cache.refresh();
    EXPECT_AGREES(cache, folder);
    EXPECT_EQ(listing(cache.entries(folder.string())), listingOnDisk(folder));
    EXPECT_EQ(cache.info(other.string())->size, 1u);

    // A change to the folder itself forgets its own answer.
    setFileTime(folder, 1234);
    cache.refresh();
    EXPECT_NE(cache.info(folder.string())->modifiedAt, 1234);
    events->queue(folder.string(), FileEventSource::Kind::FolderChanged);
    cache.refresh();
    EXPECT_DOUBLE_EQ(cache.info(folder.string())->modifiedAt, 1234);

    // An event on a folder above, naming the way down, forgets everything below.
    events->queue(dir.path().string(), FileEventSource::Kind::EntryChanged, "p");
    cache.refresh();
    EXPECT_AGREES(cache, other);

    // A folder's name now leads elsewhere: its watch is released.
    fs::create_directory(folder / "sub");
    EXPECT_AGREES(cache, folder / "sub");
    ASSERT_TRUE(events->watchOf((folder / "sub").string()));
    events->queue(folder.string(), FileEventSource::Kind::EntryMoved, "sub");
    cache.refresh();
    EXPECT_FALSE(events->watchOf((folder / "sub").string()));

    // Lost events forget everything, watches included.
    append(other, "333");
    events->queueOverflow();
    cache.refresh();
    EXPECT_EQ(cache.cachedPaths(), 0u);
    EXPECT_EQ(cache.watchedFolders(), 0u);
    EXPECT_TRUE(events->watchedPaths().empty());
    EXPECT_AGREES(cache, other);
    EXPECT_AGREES(cache, file);

    // The folder's watch ends: everything below is forgotten.
    append(file, "4444");
    events->queue(folder.string(), FileEventSource::Kind::FolderGone);
    cache.refresh();
    EXPECT_FALSE(events->watchOf(folder.string()));
    EXPECT_AGREES(cache, file);
    EXPECT_TRUE(events->watchOf(folder.string()));

    // A folder that cannot be watched is asked every time.
    auto refusedFile = dir.write("refused/r.jsonl", "r");
    events->refuse((dir / "refused").string());
    EXPECT_AGREES(cache, refusedFile);
    append(refusedFile, "rr");
    EXPECT_AGREES(cache, refusedFile);
    EXPECT_EQ(cache.info(refusedFile.string())->size, 3u);
}

TEST(WatchedFileStatTests, limitsDropEverythingAndCachingGoesOn) {
    TempDir dir;
    std::vector<fs::path> files;
    for (int i = 0; i < 12; ++i) files.push_back(dir.write(numbered("f", i, "/t.jsonl"), std::string(i, 'x')));
    // Room for a handful of paths and the watches of about two folders.
    const std::string root = dir.path().string();
    size_t depth = static_cast<size_t>(std::count(root.begin(), root.end(), '/'));
    auto cache = watchedCache({.answers = depth + 8, .watches = depth + 3});
    REQUIRE_INOTIFY(cache);

    for (int round = 0; round < 3; ++round) {
        cache->refresh();
        for (const auto& file : files) {
            EXPECT_AGREES(*cache, file);
            EXPECT_LE(cache->cachedPaths(), depth + 8);
            EXPECT_LE(cache->watchedFolders(), depth + 3);
        }
        // Room is made for new paths: the last one asked is remembered.
        uint64_t calls = cache->fileSystemCalls();
        EXPECT_AGREES(*cache, files.back());
        EXPECT_EQ(cache->fileSystemCalls(), calls);
    }
    for (const auto& file : files) append(file, "!");
    cache->refresh();
    for (const auto& file : files) EXPECT_AGREES(*cache, file);

    // Still caching: the last file asked is answered from memory.
    cache->refresh();
    EXPECT_AGREES(*cache, files.back());
    uint64_t calls = cache->fileSystemCalls();
    EXPECT_AGREES(*cache, files.back());
    EXPECT_EQ(cache->fileSystemCalls(), calls);

    // Many distinct paths asked once each do not pile up.
    for (int i = 0; i < 200; ++i) cache->info((dir / numbered("f0/missing-", i)).string());
    EXPECT_LE(cache->cachedPaths(), depth + 8);
}

TEST(WatchedFileStatTests, withoutWatchingEveryCallGoesToTheFileSystem) {
    TempDir dir;
    auto file = dir.write("p/f.jsonl", "1");
    WatchedFileStat cache(nullptr);
    for (int round = 0; round < 3; ++round) {
        cache.refresh();
        uint64_t before = cache.fileSystemCalls();
        EXPECT_AGREES(cache, file);
        EXPECT_FALSE(cache.exists((dir / "p/none").string()));
        EXPECT_EQ(listing(cache.entries((dir / "p").string())), listingOnDisk(dir / "p"));
        EXPECT_EQ(cache.fileSystemCalls(), before + 3);
        append(file, "+");
    }
    EXPECT_EQ(cache.cachedPaths(), 0u);

    // The default instance works whether or not inotify is available.
    WatchedFileStat defaults;
    EXPECT_AGREES(defaults, file);
    append(file, "+");
    defaults.refresh();
    EXPECT_AGREES(defaults, file);
}

TEST(WatchedFileStatTests, concurrentCallersGetRightAnswers) {
    TempDir dir;
    std::vector<fs::path> files;
    for (int i = 0; i < 8; ++i) files.push_back(dir.write(numbered("c/", i), std::string(i + 1, 'x')));
    auto cache = watchedCache();
    REQUIRE_INOTIFY(cache);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                if (t == 0) cache->refresh();
                const auto& file = files[static_cast<size_t>(round) % files.size()];
                auto info = cache->info(file.string());
                EXPECT_TRUE(info && info->size == fs::file_size(file));
                EXPECT_EQ(cache->entries((dir / "c").string())->size(), files.size());
            }
        });
    }
    for (auto& thread : threads) thread.join();
}
