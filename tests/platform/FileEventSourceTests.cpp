#include "platform/FakeFileEventSource.hpp"
#include "platform/FileEventSource.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sys/stat.h>

using namespace brindleaf;
using brindleaf::testing::setFileTime;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;
namespace fs = std::filesystem;
using Kind = FileEventSource::Kind;
using Event = FileEventSource::Event;

namespace {

bool contains(const std::vector<Event>& events, const Event& wanted) {
    return std::find(events.begin(), events.end(), wanted) != events.end();
}

std::string describe(const std::vector<Event>& events) {
    std::string text;
    for (const auto& event : events) {
        text += std::to_string(event.watch);
        text += ':';
        text += std::to_string(static_cast<int>(event.kind));
        text += ':';
        text += event.name;
        text += ' ';
    }
    return text;
}

} // namespace

TEST(FileEventSourceTests, watchesOnlyRealFoldersAndReusesTheIdOfTheSameFolder) {
    TempDir dir;
    auto file = dir.write("folder/file.txt", "x");
    fs::create_directory_symlink(dir / "folder", dir / "link");
    auto source = InotifyFileEventSource::create();
    if (!source) GTEST_SKIP() << "inotify unavailable";

    auto watch = source->watchFolder((dir / "folder").string());
    ASSERT_TRUE(watch);
    EXPECT_EQ(source->watchFolder((dir / "folder").string()), watch);
    EXPECT_NE(source->watchFolder(dir.path().string()), watch);
    EXPECT_FALSE(source->watchFolder(file.string()));
    EXPECT_FALSE(source->watchFolder((dir / "missing").string()));
    EXPECT_FALSE(source->watchFolder((dir / "link").string()));
    EXPECT_FALSE(source->watchFolder("/proc/self"));

    // Nothing happened: nothing to read, in one call.
    uint64_t reads = source->readCalls();
    auto quiet = source->read();
    EXPECT_TRUE(quiet.events.empty());
    EXPECT_FALSE(quiet.overflowed);
    EXPECT_EQ(source->readCalls(), reads + 1);
}

TEST(FileEventSourceTests, reportsEntryFolderAndSelfChangesByKind) {
    TempDir dir;
    auto folder = dir / "folder";
    auto file = dir.write("folder/file.txt", "x");
    fs::create_directory(folder / "sub");
    auto source = InotifyFileEventSource::create();
    if (!source) GTEST_SKIP() << "inotify unavailable";
    int watch = *source->watchFolder(folder.string());
    int sub = *source->watchFolder((folder / "sub").string());

    {
        std::ofstream out(file, std::ios::app);
        out << "more";
    }
    setFileTime(file, 1000);
    writeFile(folder / "new.txt", "n");
    fs::rename(folder / "new.txt", folder / "renamed.txt");
    fs::remove(folder / "renamed.txt");
    setFileTime(folder, 2000);
    auto result = source->read();
    EXPECT_FALSE(result.overflowed);
    const auto& events = result.events;
    EXPECT_TRUE(contains(events, {watch, Kind::EntryChanged, "file.txt"})) << describe(events);
    EXPECT_TRUE(contains(events, {watch, Kind::EntryMoved, "new.txt"})) << describe(events);
    EXPECT_TRUE(contains(events, {watch, Kind::EntryMoved, "renamed.txt"})) << describe(events);
    EXPECT_TRUE(contains(events, {watch, Kind::FolderChanged, ""})) << describe(events);
    EXPECT_TRUE(source->read().events.empty());

    // A watched folder moved away, then removed; its watch ends.
    fs::rename(folder / "sub", dir / "sub-moved");
    auto moved = source->read().events;
    EXPECT_TRUE(contains(moved, {watch, Kind::EntryMoved, "sub"})) << describe(moved);
    EXPECT_TRUE(contains(moved, {sub, Kind::FolderGone, ""})) << describe(moved);
    fs::remove(dir / "sub-moved");
    auto removed = source->read().events;
    EXPECT_TRUE(contains(removed, {sub, Kind::FolderGone, ""})) << describe(removed);
    EXPECT_TRUE(contains(removed, {sub, Kind::FolderGone, "", true})) << describe(removed);

    // Unwatching ends the watch too, and nothing more comes from it.
    source->unwatch(watch);
    auto ended = source->read().events;
    EXPECT_TRUE(contains(ended, {watch, Kind::FolderGone, "", true})) << describe(ended);
    writeFile(folder / "after.txt", "a");
    EXPECT_TRUE(source->read().events.empty());
}

TEST(FileEventSourceTests, watchesFilesThroughLinksOneWatchPerFile) {
    TempDir dir;
    auto file = dir.write("state.json", "{}");
    fs::create_symlink(file, dir / "link.json");
    fs::create_hard_link(file, dir / "hard.json");
    auto source = InotifyFileEventSource::create();
    if (!source) GTEST_SKIP() << "inotify unavailable";

    auto watch = source->watchPath(file.string());
    ASSERT_TRUE(watch);
    EXPECT_EQ(source->watchPath((dir / "link.json").string()), watch);
    EXPECT_EQ(source->watchPath((dir / "hard.json").string()), watch);
    EXPECT_NE(source->watchPath(dir.path().string()), watch);
    EXPECT_FALSE(source->watchPath((dir / "missing").string()));
    EXPECT_FALSE(source->watchPath("/proc/version"));

    {
        std::ofstream out(file, std::ios::app);
        out << "more";
    }
    auto written = source->read().events;
    EXPECT_TRUE(contains(written, {*watch, Kind::FolderChanged, ""})) << describe(written);
    EXPECT_TRUE(contains(written, {*source->watchPath(dir.path().string()), Kind::EntryChanged, "state.json"}))
        << describe(written);
}

TEST(FileEventSourceTests, drainsMoreThanOneBufferOfEventsInOneRead) {
    TempDir dir;
    auto source = InotifyFileEventSource::create();
    if (!source) GTEST_SKIP() << "inotify unavailable";
    int watch = *source->watchFolder(dir.path().string());
    std::set<std::string> names;
    for (int i = 0; i < 1500; ++i) {
        std::string name(60, 'n');
        name += std::to_string(i);
        writeFile(dir / name, "");
        names.insert(name); // 1500 events of about 80 bytes: more than 64 KiB
    }
    auto result = source->read();
    EXPECT_FALSE(result.overflowed);
    std::set<std::string> created;
    for (const auto& event : result.events) {
        if (event.watch == watch && event.kind == Kind::EntryMoved) created.insert(event.name);
    }
    EXPECT_EQ(created, names);
}

TEST(FileEventSourceTests, fakeHandsOutWatchesAndQueuedEvents) {
    TempDir dir;
    fs::create_directory(dir / "a");
    auto file = dir.write("f.txt", "x");
    FakeFileEventSource source;
    auto a = source.watchFolder((dir / "a").string());
    ASSERT_TRUE(a);
    EXPECT_EQ(source.watchFolder((dir / "a").string()), a);
    EXPECT_FALSE(source.watchFolder(file.string()));
    EXPECT_FALSE(source.watchFolder((dir / "missing").string()));
    source.refuse(dir.path().string());
    EXPECT_FALSE(source.watchFolder(dir.path().string()));
    EXPECT_EQ(source.watchedPaths(), std::vector<std::string>{(dir / "a").string()});

    source.queue((dir / "a").string(), Kind::EntryMoved, "x");
    source.queueOverflow();
    auto result = source.read();
    EXPECT_TRUE(result.overflowed);
    EXPECT_EQ(result.events, (std::vector<Event>{{*a, Kind::EntryMoved, "x"}}));
    EXPECT_FALSE(source.read().overflowed);

    source.unwatch(*a);
    EXPECT_FALSE(source.watchOf((dir / "a").string()));
    EXPECT_NE(source.watchFolder((dir / "a").string()), a);
}
