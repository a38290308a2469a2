#include "services/FileChangeWatcher.hpp"

#include "platform/FakeFileEventSource.hpp"
#include "platform/FileEventSource.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    // The paths not reported within the patience.
    std::vector<fs::path> missing(const std::vector<fs::path>& paths) {
        std::unique_lock lock(mutex_);
        auto absent = [&] {
            std::vector<fs::path> left;
            for (const auto& path : paths) {
                if (countLocked(path) == 0) left.push_back(path);
            }
            return left;
        };
        changed_.wait_for(lock, kPatience, [&] { return absent().empty(); });
        return absent();
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

std::vector<std::string> strings(const std::vector<fs::path>& paths) { return {paths.begin(), paths.end()}; }

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

    // The kernel's watch descriptor of each watched inode.
    std::map<unsigned long, int> kernelWatchIDs() const {
        std::map<unsigned long, int> ids;
        std::ifstream in("/proc/self/fdinfo/" + std::to_string(descriptor_));
        for (std::string line; std::getline(in, line);) {
            auto at = line.find(" ino:");
            if (!line.starts_with("inotify wd:") || at == std::string::npos) continue;
            ids[std::stoul(line.substr(at + 5), nullptr, 16)] = std::stoi(line.substr(11), nullptr, 16);
        }
        return ids;
    }

    // Watches `paths` with a callback of its own and waits until it is in
    // place: a write to `probe` reaches it (earlier writes may still go to
    // the callback before).
    void watchAndSettle(FileChangeWatcher& watcher, const std::vector<fs::path>& paths, const fs::path& probe) {
        Reports& reports = settled_.emplace_back();
        watcher.watch(strings(paths), reports.callback());
        ASSERT_TRUE(eventually([&] {
            append(probe);
            return reports.count(probe) > 0;
        }));
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

    TempDir dir_;
    int descriptor_ = -1;
    std::deque<Reports> settled_;
};

// A watcher on a fake event source and a fake clock.
class FakeWatcherTest : public ::testing::Test {
protected:
    FakeWatcherTest() { makeWatcher(); }

    void makeWatcher() {
        watcher_ = std::make_unique<FileChangeWatcher>(
            [this] {
                auto source = std::make_unique<FakeFileEventSource>();
                events_ = source.get();
                return source;
            },
            200ms, [this] { return FileChangeWatcher::Clock::time_point(std::chrono::milliseconds(nowMs_.load())); });
    }

    // Waits until the watcher's thread has finished the turn in progress and
    // the one after it (which carries out what the first asked for): two
    // unrelated events read one after the other.
    void settle() {
        for (int round = 0; round < 2; ++round) {
            events_->queue("/not-watched", FileEventSource::Kind::EntryChanged, "settle");
            ASSERT_TRUE(eventually([&] { return events_->queuedCount() == 0; }))
                << "the watcher's thread reads nothing";
        }
    }

    TempDir dir_;
    Reports reports_, other_;               // outlive the watcher, which may call them until it ends
    FakeFileEventSource* events_ = nullptr; // made by the first watch()
    std::atomic<int> nowMs_{0};
    std::unique_ptr<FileChangeWatcher> watcher_;
};

} // namespace

TEST_F(InotifyWatcherTest, WatchesEachPathOnceAndTheFolderAboveSilently) {
    fs::create_directory(dir_ / "folder");
    auto file = dir_.write("folder/file.txt", "x");
    Reports reports;
    auto watcher = makeWatcher(0ms);
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
    Reports reports;
    auto watcher = makeWatcher(0ms);
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
    Reports reports;
    auto watcher = makeWatcher();
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

TEST_F(InotifyWatcherTest, ALinkedFileRenamedOverWhileHeldOpenIsBoundAgain) {
    // The link is watched; the folder its target is in is not.
    auto target = dir_.write("elsewhere/state.json", "a\n");
    fs::create_directory(dir_ / "watched");
    auto link = dir_ / "watched/state.json";
    fs::create_symlink(target, link);
    std::ifstream holder(target); // the old file is deleted only once closed
    ASSERT_TRUE(holder.is_open());
    Reports reports;
    auto watcher = makeWatcher();
    watcher->watch(strings({link}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({link}));

    replaceByRename(target, "b\n");
    ASSERT_TRUE(reports.waitFor(link)) << "the old file's link count change was not reported";
    ASSERT_TRUE(kernelWatchesBecome({link})) << "the new target is not watched while the old one is held open";
    size_t seen = reports.count(link);
    append(target);
    EXPECT_TRUE(reports.waitFor(link, seen + 1));
}

TEST_F(InotifyWatcherTest, PathThatAppearsIsReportedExactlyOnce) {
    auto appearing = dir_ / "gateway_state.json";
    auto sentinel = dir_ / "sub";
    Reports reports;
    auto watcher = makeWatcher();
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
    Reports before, after;
    auto watcher = makeWatcher();
    watcher->watch(strings({first}), before.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({first}));
    // Written before the list is replaced: reported, to the callback it was watched for.
    append(first);
    watcher->watch(strings({second}), after.callback());
    ASSERT_TRUE(kernelWatchesBecome({second}));

    append(first);
    append(second);
    ASSERT_TRUE(after.waitFor(second));
    EXPECT_EQ(before.all(), std::vector<std::string>{first.string()});
    EXPECT_EQ(after.all(), std::vector<std::string>{second.string()});
}

TEST_F(InotifyWatcherTest, AppendInsideWatchedFolderReportsTheFile) {
    auto project = dir_ / "projects/-work-app";
    auto transcript = dir_.write("projects/-work-app/session.jsonl", "{}\n");
    Reports reports;
    auto watcher = makeWatcher();
    watcher->watch(strings({project}), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({project}));
    append(transcript);
    EXPECT_TRUE(reports.waitFor(transcript));
    // A new transcript is reported under its own path, and so are its writes,
    // through the folder's watch: nothing is bound again.
    auto created = dir_.write("projects/-work-app/second.jsonl", "{}\n");
    ASSERT_TRUE(reports.waitFor(created));
    size_t seen = reports.count(created);
    append(created);
    EXPECT_TRUE(reports.waitFor(created, seen + 1));
    EXPECT_EQ(reports.count(project), 0u);
    EXPECT_EQ(watcher->rebindCount(), 0u);
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

TEST_F(InotifyWatcherTest, StopFromInsideTheCallbackKeepsAWatchAnotherThreadAskedForMeanwhile) {
    auto first = dir_.write("a/first.json", "1");
    auto second = dir_.write("b/second.json", "2");
    Reports after;
    auto watcher = makeWatcher();
    std::mutex mutex;
    std::condition_variable changed;
    bool inCallback = false;
    bool watchAsked = false;
    int firstCalls = 0;
    watcher->watch(strings({first}), [&](const std::string&) {
        std::unique_lock lock(mutex);
        ++firstCalls;
        inCallback = true;
        changed.notify_all();
        changed.wait_for(lock, kPatience, [&] { return watchAsked; });
        lock.unlock();
        watcher->stop();
    });
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({first}));
    append(first);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kPatience, [&] { return inCallback; }));
    }
    watcher->watch(strings({second}), after.callback());
    {
        std::lock_guard lock(mutex);
        watchAsked = true;
    }
    changed.notify_all();
    ASSERT_TRUE(kernelWatchesBecome({second}));
    append(first);
    append(second);
    EXPECT_TRUE(after.waitFor(second));
    std::lock_guard lock(mutex);
    EXPECT_EQ(firstCalls, 1);
}

TEST_F(InotifyWatcherTest, DestroyedFromInsideItsCallbackEndsEveryWatchAndItsThread) {
    auto file = dir_.write("state.json", "{}");
    auto watcher = makeWatcher();
    std::mutex mutex;
    std::condition_variable done;
    bool destroyed = false;
    watcher->watch(strings({file}), [&](const std::string&) {
        watcher.reset();
        std::lock_guard lock(mutex);
        destroyed = true;
        done.notify_all();
    });
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome({file}));
    append(file);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(done.wait_for(lock, kPatience, [&] { return destroyed; }));
    }
    EXPECT_TRUE(kernelWatches().empty());
    // The thread ends on its own and closes the inotify instance.
    EXPECT_TRUE(eventually([&] {
        char target[64] = {};
        auto link = "/proc/self/fd/" + std::to_string(descriptor_);
        return ::readlink(link.c_str(), target, sizeof target - 1) < 0 || std::string(target) != "anon_inode:inotify";
    }));
}

TEST_F(InotifyWatcherTest, AppendsWhileTheSameListIsWatchedAgainAreAllReported) {
    std::vector<fs::path> files;
    for (int i = 0; i < 200; ++i) files.push_back(dir_.write("sessions/" + std::to_string(i) + ".jsonl", ""));
    const std::vector<fs::path> list = {dir_ / "sessions", files[0]};
    Reports reports;
    auto watcher = makeWatcher();
    watcher->watch(strings(list), reports.callback());
    if (descriptor_ < 0) GTEST_SKIP() << "inotify unavailable";
    ASSERT_TRUE(kernelWatchesBecome(list));
    for (const auto& file : files) {
        append(file);
        watcher->watch(strings(list), reports.callback());
    }
    EXPECT_EQ(reports.missing(files), std::vector<fs::path>{});
}

TEST_F(InotifyWatcherTest, WatchingAgainKeepsTheKernelWatchOfEveryUnchangedFileAndEndsTheRest) {
    if (!InotifyFileEventSource::create()) GTEST_SKIP() << "inotify unavailable";
    auto folder = dir_ / "sessions";
    auto file = dir_.write("sessions/a.jsonl", "");
    auto log = dir_.write("logs/b.sqlite", "");
    const std::vector<fs::path> list = {folder, file, folder / "later.json"};
    auto watcher = makeWatcher();
    watchAndSettle(*watcher, list, file);
    ASSERT_TRUE(kernelWatchesBecome(list));
    const auto before = kernelWatchIDs();
    watchAndSettle(*watcher, list, file);
    EXPECT_EQ(kernelWatchIDs(), before);

    // A file replaced by another gets a watch of its own; the old one ends.
    const unsigned long oldInode = inodeOf(file);
    replaceByRename(file, "new\n");
    watchAndSettle(*watcher, list, file);
    ASSERT_TRUE(kernelWatchesBecome(list));
    auto after = kernelWatchIDs();
    EXPECT_EQ(after.count(oldInode), 0u);
    EXPECT_EQ(after.at(inodeOf(folder)), before.at(inodeOf(folder)));

    // Paths left out of the list leave no watch behind, however often.
    for (int round = 0; round < 3; ++round) {
        watchAndSettle(*watcher, {log}, log);
        ASSERT_TRUE(kernelWatchesBecome({log})) << round;
        watchAndSettle(*watcher, list, file);
        ASSERT_TRUE(kernelWatchesBecome(list)) << round;
    }
    watcher->stop();
    EXPECT_TRUE(kernelWatches().empty());
}

TEST_F(InotifyWatcherTest, KernelWatchesFollowTheWatchedSetThroughRebinds) {
    auto one = dir_.write("one.json", "1");
    auto two = dir_.write("two.json", "2");
    fs::create_hard_link(two, dir_ / "two-hard.json");
    fs::create_symlink(one, dir_ / "one-link.json");
    std::vector<fs::path> paths = {one, two, dir_ / "two-hard.json", dir_ / "one-link.json", dir_ / "sub/three.json"};
    Reports reports;
    auto watcher = makeWatcher();
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
    Reports reports;
    FakeFileEventSource* events = nullptr;
    FileChangeWatcher watcher([&] {
        auto source = std::make_unique<FakeFileEventSource>();
        events = source.get();
        return source;
    });
    // Relative paths and texts that are no paths are ignored; the rest normalised.
    watcher.watch({"relative/a.json", std::string("/tmp\0/x", 7), dir.path().string() + "//a.json/",
                   (dir / "b.json").string(), other.string()},
                  reports.callback());
    ASSERT_TRUE(eventually([&] { return events->watchOf(other.string()).has_value(); }));
    events->queueOverflow();
    ASSERT_TRUE(reports.waitFor(other));
    EXPECT_EQ(reports.all(), (std::vector<std::string>{present.string(), other.string()}));
}

TEST(FileChangeWatcherTests, OneRebindPerBurstTimedFromItsFirstEvent) {
    struct Step {
        int atMs;
        bool event; // a rename in the folder above the watched file
        uint64_t rebinds;
    };
    const std::vector<std::vector<Step>> cases = {
        {{0, true, 0}, {199, false, 0}, {200, false, 1}},
        {{0, true, 0}, {150, true, 0}, {200, false, 1}, {349, false, 1}, {1000, false, 1}},
        {{0, true, 0}, {100, true, 0}, {199, true, 0}, {200, false, 1}, {1000, false, 1}},
        {{0, true, 0}, {200, false, 1}, {300, true, 1}, {499, false, 1}, {500, false, 2}},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        TempDir dir;
        auto file = dir.write("state.json", "{}");
        const std::string folder = dir.path().string();
        FakeFileEventSource* events = nullptr;
        std::atomic<int> nowMs{0};
        FileChangeWatcher watcher(
            [&] {
                auto source = std::make_unique<FakeFileEventSource>();
                events = source.get();
                return source;
            },
            200ms, [&] { return FileChangeWatcher::Clock::time_point(std::chrono::milliseconds(nowMs.load())); });
        watcher.watch({file.string()}, [](const std::string&) {});
        ASSERT_TRUE(eventually([&] { return events->watchOf(folder).has_value(); }));
        for (const Step& step : cases[c]) {
            nowMs = step.atMs;
            if (step.event) events->queue(folder, FileEventSource::Kind::EntryMoved, "state.json");
            // Two more reads, one after the other: the turn that read the step's
            // event (or noticed the clock) has finished.
            for (int round = 0; round < 2; ++round) {
                events->queue(folder, FileEventSource::Kind::EntryChanged, "unrelated.txt");
                ASSERT_TRUE(eventually([&] { return events->queuedCount() == 0; }));
            }
            EXPECT_EQ(watcher.rebindCount(), step.rebinds) << "at " << step.atMs << " ms";
        }
    }
}

TEST_F(FakeWatcherTest, AWatchTheCallbackAskedForBeforeItsStopIsDropped) {
    auto file = dir_.write("a.json", "a");
    auto other = dir_.write("b.json", "b");
    watcher_->watch({file.string()}, [&](const std::string& path) {
        watcher_->watch({other.string()}, other_.callback());
        watcher_->stop();
        reports_.callback()(path);
    });
    settle();
    events_->queue(file.string(), FileEventSource::Kind::FolderChanged);
    ASSERT_TRUE(reports_.waitFor(file));
    settle();
    EXPECT_EQ(events_->watchedPaths(), std::vector<std::string>{});
    EXPECT_EQ(reports_.all(), std::vector<std::string>{file.string()});
    EXPECT_EQ(other_.all(), std::vector<std::string>{});
}

TEST_F(FakeWatcherTest, ChangesQueuedBeforeANewListGoToTheCallbackTheyWereWatchedFor) {
    auto file = dir_.write("a.json", "a");
    watcher_->watch({file.string()}, [&](const std::string& path) {
        reports_.callback()(path);
        if (reports_.count(file) > 1) return;
        // Written again, then the same list watched with another callback.
        events_->queue(file.string(), FileEventSource::Kind::FolderChanged);
        watcher_->watch({file.string()}, other_.callback());
    });
    settle();
    events_->queue(file.string(), FileEventSource::Kind::FolderChanged);
    ASSERT_TRUE(reports_.waitFor(file));
    settle();
    EXPECT_EQ(reports_.all(), (std::vector<std::string>{file.string(), file.string()}));
    EXPECT_EQ(other_.all(), std::vector<std::string>{});
}

TEST_F(FakeWatcherTest, OfTheNextListOnlyAPathThatStaysAndAppearedMeanwhileIsReported) {
    auto later = dir_ / "later.json";
    auto kept = dir_.write("kept.json", "k");
    watcher_->watch(strings({later, kept}), reports_.callback());
    settle();
    writeFile(later, "l"); // no event: the watcher learns of it from the next list
    auto added = dir_.write("added.json", "a");
    watcher_->watch(strings({later, kept, added}), reports_.callback());
    settle();
    EXPECT_EQ(reports_.all(), std::vector<std::string>{later.string()});
}

TEST_F(FakeWatcherTest, AWatchCallDropsTheRebindPendingBeforeIt) {
    auto file = dir_.write("state.json", "{}");
    const std::string folder = dir_.path().string();
    for (bool watchedAgain : {false, true}) {
        SCOPED_TRACE(watchedAgain ? "watched again" : "left alone");
        const uint64_t before = watcher_->rebindCount();
        watcher_->watch({file.string()}, [](const std::string&) {});
        settle();
        events_->queue(folder, FileEventSource::Kind::EntryMoved, "state.json");
        settle();
        if (watchedAgain) watcher_->watch({file.string()}, [](const std::string&) {});
        nowMs_ += 200;
        settle();
        EXPECT_EQ(watcher_->rebindCount() - before, watchedAgain ? 0u : 1u);
    }
}

TEST_F(FakeWatcherTest, BindingAgainAsksForNoWatchItHolds) {
    auto file = dir_.write("sessions/a.jsonl", "");
    const auto list = strings({dir_ / "sessions", file, dir_ / "sessions/later.json"});
    watcher_->watch(list, [](const std::string&) {});
    settle();
    const int calls = events_->watchCalls();
    ASSERT_GT(calls, 0);
    watcher_->watch(list, [](const std::string&) {});
    settle();
    EXPECT_EQ(events_->watchCalls(), calls) << "watched again";
    events_->queue((dir_ / "sessions").string(), FileEventSource::Kind::EntryMoved, "later.json");
    settle();
    nowMs_ += 200;
    settle();
    ASSERT_EQ(watcher_->rebindCount(), 1u);
    EXPECT_EQ(events_->watchCalls(), calls) << "bound again";
}

TEST_F(FakeWatcherTest, NoCallFollowsAStopOrADestructionInsideTheCallback) {
    const auto list = strings({dir_.write("a.json", "a"), dir_.write("b.json", "b")});
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        std::atomic<int> calls{0};
        auto token = std::make_shared<int>(0);
        std::weak_ptr<int> held = token;
        watcher_->watch(list, [&, token = std::move(token)](const std::string&) {
            ++calls;
            if (destroy) {
                watcher_.reset();
            } else if (watcher_) {
                watcher_->stop();
            }
        });
        settle();
        events_->queueOverflow(); // reports both paths in one go
        ASSERT_TRUE(eventually([&] { return held.expired(); })) << "the callback is still held";
        EXPECT_EQ(calls, 1);
    }
}
