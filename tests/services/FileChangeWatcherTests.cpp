#include "services/FileChangeWatcher.hpp"

#include "platform/FakeFileEventSource.hpp"
#include "platform/FileEventSource.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace brindleaf;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;

// Collects the reported paths, in order.
class Reports {
public:
    FileChangeWatcher::Callback callback() {
        return [this](const std::string& path) {
            std::lock_guard lock(mutex_);
            paths_.push_back(path);
            changed_.notify_all();
        };
    }
    bool waitFor(const fs::path& path, size_t times = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return countLocked(path) >= times; });
    }
    size_t count(const fs::path& path) const {
        std::lock_guard lock(mutex_);
        return countLocked(path);
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    size_t countLocked(const fs::path& path) const {
        return static_cast<size_t>(std::count(paths_.begin(), paths_.end(), path.string()));
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> paths_;
};

void append(const fs::path& path, const std::string& text = "line\n") {
    std::ofstream out(path, std::ios::app);
    out << text;
}

// Replaces a file by renaming a new one over it, as agents save their state.
void replaceByRename(const fs::path& path, const std::string& contents) {
    fs::path temporary = path.string() + ".tmp";
    writeFile(temporary, contents);
    fs::rename(temporary, path);
}

template <typename Condition>
bool eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A watcher on a real inotify instance whose kernel-side watches the test can list.
class InotifyWatcherTest : public ::testing::Test {
protected:
    std::unique_ptr<FileChangeWatcher> makeWatcher(std::chrono::milliseconds delay = 200ms) {
        return std::make_unique<FileChangeWatcher>(
            [this] {
                auto source = InotifyFileEventSource::create();
                if (source) descriptor_ = source->descriptor();
                return std::unique_ptr<FileEventSource>(std::move(source));
            },
            delay);
    }

    // The inodes the kernel watches for the watcher, one line per watch.
    std::multiset<unsigned long> kernelWatches() const {
        std::multiset<unsigned long> inodes;
        std::ifstream in("/proc/self/fdinfo/" + std::to_string(descriptor_));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.starts_with("inotify ")) continue;
            auto at = line.find(" ino:");
            if (at != std::string::npos) inodes.insert(std::stoul(line.substr(at + 5), nullptr, 16));
        }
        return inodes;
    }

    static unsigned long inodeOf(const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    }

    // What must be watched: each watched path that exists, and each existing
    // folder above one that is not itself watched; one watch per inode.
    static std::multiset<unsigned long> expectedWatches(const std::vector<fs::path>& paths) {
        std::set<unsigned long> inodes;
        std::set<fs::path> watched(paths.begin(), paths.end());
        for (const auto& path : paths) {
            if (unsigned long inode = inodeOf(path)) inodes.insert(inode);
            if (!watched.count(path.parent_path()) && fs::is_directory(path.parent_path())) {
                inodes.insert(inodeOf(path.parent_path()));
            }
        }
        return {inodes.begin(), inodes.end()};
    }

    bool kernelWatchesBecome(const std::vector<fs::path>& paths) const {
        return eventually([&] { return kernelWatches() == expectedWatches(paths); });
    }

    std::vector<std::string> strings(const std::vector<fs::path>& paths) const { return {paths.begin(), paths.end()}; }

    TempDir dir_;
    int descriptor_ = -1;
};

} // namespace

TEST_F(InotifyWatcherTest, WatchesEachPathOnceAndTheFolderAboveSilently) {
    fs::create_directory(dir_ / "folder");
    auto file = dir_.write("folder/file.txt", "x");
    auto watcher = makeWatcher(0ms);
    Reports reports;
    // Listed twice, and once in another spelling; /proc is not a file system inotify can follow.
    watcher->watch({(dir_ / "folder").string(), file.string(), file.string(), (dir_ / "folder/./file.txt").string(),
                    "/proc/version"},
                   reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    // The folder, the file, and the folder above the folder: three watches.
    ASSERT_TRUE(kernelWatchesBecome({dir_ / "folder", file}));
    EXPECT_EQ(kernelWatches().size(), 3u);

    // A new entry beside the watched folder is seen by the silent watch above it only.
    writeFile(dir_ / "other.txt", "o");
    append(file);
    ASSERT_TRUE(reports.waitFor(file));
    EXPECT_EQ(reports.count(dir_ / "other.txt"), 0u);
    EXPECT_EQ(watcher->rebindCount(), 0u);
}

TEST_F(InotifyWatcherTest, WriteIsReportedWithoutRebindingAndRenameOverIsReportedAndRebound) {
    auto file = dir_.write("state.json", "{}");
    auto marker = dir_.write("marker.json", "{}");
    // No delay: a rebinding, if any, would happen before the next event is read.
    auto watcher = makeWatcher(0ms);
    Reports reports;
    watcher->watch(strings({file, marker}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({file, marker}));

    append(file);
    ASSERT_TRUE(reports.waitFor(file));
    append(marker);
    ASSERT_TRUE(reports.waitFor(marker));
    EXPECT_EQ(watcher->rebindCount(), 0u);

    unsigned long before = inodeOf(file);
    replaceByRename(file, "{\"new\":true}");
    ASSERT_NE(inodeOf(file), before);
    ASSERT_TRUE(reports.waitFor(file, 2));
    ASSERT_TRUE(eventually([&] { return watcher->rebindCount() >= 1; }));
    ASSERT_TRUE(kernelWatchesBecome({file, marker}));

    // The new file is watched.
    size_t seen = reports.count(file);
    append(file);
    EXPECT_TRUE(reports.waitFor(file, seen + 1));
}

TEST_F(InotifyWatcherTest, RenameOverIsReboundAfterTheDefaultDelay) {
    auto file = dir_.write("rollout.jsonl", "a\n");
    auto watcher = makeWatcher();
    Reports reports;
    watcher->watch(strings({file}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({file}));
    replaceByRename(file, "b\n");
    ASSERT_TRUE(reports.waitFor(file));
    ASSERT_TRUE(kernelWatchesBecome({file}));
    size_t seen = reports.count(file);
    append(file);
    EXPECT_TRUE(reports.waitFor(file, seen + 1));
}

TEST_F(InotifyWatcherTest, PathThatAppearsIsReportedExactlyOnce) {
    auto appearing = dir_ / "gateway_state.json";
    auto sentinel = dir_ / "sub";
    auto watcher = makeWatcher();
    Reports reports;
    watcher->watch(strings({appearing, sentinel}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({appearing, sentinel}));

    writeFile(appearing, "");
    ASSERT_TRUE(reports.waitFor(appearing));
    // Everything caused by the first appearance is handled before the second one.
    fs::create_directory(sentinel);
    ASSERT_TRUE(reports.waitFor(sentinel));
    EXPECT_EQ(reports.count(appearing), 1u);
    EXPECT_EQ(reports.count(sentinel), 1u);
    EXPECT_TRUE(kernelWatchesBecome({appearing, sentinel}));
}

TEST_F(InotifyWatcherTest, SecondWatchReplacesTheFirst) {
    auto first = dir_.write("a/first.json", "1");
    auto second = dir_.write("b/second.json", "2");
    auto watcher = makeWatcher();
    Reports before, after;
    watcher->watch(strings({first}), before.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({first}));
    watcher->watch(strings({second}), after.callback());
    ASSERT_TRUE(kernelWatchesBecome({second}));

    append(first);
    append(second);
    ASSERT_TRUE(after.waitFor(second));
    EXPECT_EQ(before.all(), std::vector<std::string>{});
    EXPECT_EQ(after.all(), std::vector<std::string>{second.string()});
}

TEST_F(InotifyWatcherTest, AppendInsideWatchedFolderReportsTheFile) {
    auto project = dir_ / "projects/-work-app";
    auto transcript = dir_.write("projects/-work-app/session.jsonl", "{}\n");
    auto watcher = makeWatcher();
    Reports reports;
    watcher->watch(strings({project}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({project}));
    append(transcript);
    EXPECT_TRUE(reports.waitFor(transcript));
    EXPECT_EQ(reports.count(project), 0u);
}

TEST_F(InotifyWatcherTest, StopFromInsideTheCallbackReturnsAndEndsEveryWatch) {
    auto file = dir_.write("logs_2.sqlite", "x");
    auto watcher = makeWatcher();
    std::mutex mutex;
    std::condition_variable stopped;
    int calls = 0;
    bool returned = false;
    watcher->watch(strings({file}), [&](const std::string&) {
        watcher->stop();
        std::lock_guard lock(mutex);
        ++calls;
        returned = true;
        stopped.notify_all();
    });
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({file}));
    append(file);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(stopped.wait_for(lock, kPatience, [&] { return returned; }));
    }
    EXPECT_TRUE(eventually([&] { return kernelWatches().empty(); }));
    append(file);
    watcher->stop(); // from outside as well: nothing left to end
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 1);
}

TEST_F(InotifyWatcherTest, KernelWatchesFollowTheWatchedSetThroughRebinds) {
    auto one = dir_.write("one.json", "1");
    auto two = dir_.write("two.json", "2");
    fs::create_hard_link(two, dir_ / "two-hard.json");
    fs::create_symlink(one, dir_ / "one-link.json");
    std::vector<fs::path> paths = {one, two, dir_ / "two-hard.json", dir_ / "one-link.json", dir_ / "sub/three.json"};
    auto watcher = makeWatcher();
    Reports reports;
    watcher->watch(strings(paths), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome(paths));

    for (int round = 0; round < 3; ++round) {
        replaceByRename(one, "1." + std::to_string(round));
        ASSERT_TRUE(kernelWatchesBecome(paths)) << round;
        replaceByRename(two, "2." + std::to_string(round));
        ASSERT_TRUE(kernelWatchesBecome(paths)) << round;
    }
    fs::create_directory(dir_ / "sub");
    writeFile(dir_ / "sub/three.json", "3");
    ASSERT_TRUE(reports.waitFor(dir_ / "sub/three.json"));
    ASSERT_TRUE(kernelWatchesBecome(paths));
    fs::remove(one);
    ASSERT_TRUE(kernelWatchesBecome(paths));

    // The hard link kept the first file of "two" and is still watched.
    append(dir_ / "two-hard.json");
    EXPECT_TRUE(reports.waitFor(dir_ / "two-hard.json"));
    watcher->stop();
    EXPECT_TRUE(kernelWatches().empty());
}

TEST(FileChangeWatcherTests, LostEventsReportEveryWatchedPathThatExists) {
    TempDir dir;
    auto present = dir.write("a.json", "a");
    auto other = dir.write("c.json", "c");
    FakeFileEventSource* events = nullptr;
    FileChangeWatcher watcher([&] {
        auto source = std::make_unique<FakeFileEventSource>();
        events = source.get();
        return source;
    });
    Reports reports;
    // Relative paths and texts that are no paths are ignored; the rest normalised.
    watcher.watch({"relative/a.json", std::string("/tmp\0/x", 7), dir.path().string() + "//a.json/",
                   (dir / "b.json").string(), other.string()},
                  reports.callback());
    ASSERT_TRUE(eventually([&] { return events->watchOf(other.string()).has_value(); }));
    events->queueOverflow();
    ASSERT_TRUE(reports.waitFor(other));
    EXPECT_EQ(reports.all(), (std::vector<std::string>{present.string(), other.string()}));
}
