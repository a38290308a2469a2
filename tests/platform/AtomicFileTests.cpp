#include "platform/AtomicFile.hpp"
#include "platform/AtomicFileSpaceLimit.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

std::size_t entryCount(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

} // namespace

TEST(AtomicFile, ReplacesTheContentsPrivatelyWithoutLeavingATemporaryFile) {
    TempDir dir;
    const auto path = dir / "state.json";
    EXPECT_EQ(AtomicFile::replaceContents(path, "first"), std::nullopt);
    EXPECT_EQ(readFile(path), "first");
    EXPECT_EQ(AtomicFile::replaceContents(path, std::string(100000, 'x')), std::nullopt);
    EXPECT_EQ(readFile(path), std::string(100000, 'x'));
    EXPECT_EQ(AtomicFile::replaceContents(path, ""), std::nullopt);
    EXPECT_EQ(readFile(path), "");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(AtomicFile, ReportsTheFailedStepAndLeavesNothingBehind) {
    TempDir dir;
    auto failure = AtomicFile::replaceContents(dir / "missing" / "state.json", "text");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->step, AtomicFile::Failure::Step::createTemporary);
    EXPECT_EQ(failure->error, ENOENT);

    // A folder in the way cannot be replaced by a file.
    std::filesystem::create_directories(dir / "taken" / "inside");
    failure = AtomicFile::replaceContents(dir / "taken", "text");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->step, AtomicFile::Failure::Step::replace);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(AtomicFile, AFullDiskFailsTheWriteAndKeepsTheOldFile) {
    // The old file stays until the rename, so a replacement needs room for both.
    const std::string old = "old contents", replacement = "the new contents";
    struct Case {
        std::uintmax_t capacity;
        bool written;
    };
    for (const Case& c : {Case{old.size() + replacement.size(), true}, Case{old.size() + replacement.size() - 1, false},
                          Case{old.size(), false}}) {
        TempDir dir;
        const auto path = dir.write("state.json", old);
        AtomicFileSpaceLimit disk(dir.path(), c.capacity);
        auto failure = AtomicFile::replaceContents(path, replacement, disk.writeFunction());
        EXPECT_EQ(!failure, c.written) << c.capacity;
        EXPECT_EQ(readFile(path), c.written ? replacement : old) << c.capacity;
        if (failure) {
            EXPECT_EQ(failure->step, AtomicFile::Failure::Step::write);
            EXPECT_EQ(failure->error, ENOSPC);
        }
        EXPECT_EQ(entryCount(dir.path()), 1u) << "no partly written temporary file is left";
    }
}

TEST(AtomicFile, RemovesOnlyItsOwnTemporaryFilesOlderThanTheGivenAge) {
    TempDir dir;
    const auto path = dir / "suite.json";
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'769'850'300));
    const double nowSeconds = 1'769'850'300;
    struct Case {
        const char* name;
        double age;
        bool removed;
    };
    const Case cases[] = {
        {".suite.json.tmp-Ab12Cd", 61, true},     {".suite.json.tmp-zz0099", 3600, true},
        {".suite.json.tmp-Ab12Ce", 60, false},    {".suite.json.tmp-Ab12Cf", 59, false},
        {".suite.json.tmp-Ab12Cg", -3600, false}, // dated after now
        {".suite.json.tmp-Ab12C", 3600, false},   {".suite.json.tmp-Ab12Cd7", 3600, false},
        {".suite.json.tmp-Ab_2Cd", 3600, false},  {"suite.json.tmp-Ab12Cd", 3600, false},
        {".other.json.tmp-Ab12Cd", 3600, false},  {".suite.json", 3600, false},
    };
    for (const auto& c : cases) setFileTime(dir.write(c.name, "x"), nowSeconds - c.age);
    // Neither a folder nor a link of that name is its temporary file.
    std::filesystem::create_directory(dir / ".suite.json.tmp-Folder");
    setFileTime(dir / ".suite.json.tmp-Folder", nowSeconds - 3600);
    std::filesystem::create_symlink(dir / ".suite.json", dir / ".suite.json.tmp-Linked");
    const timespec old[2] = {{static_cast<time_t>(nowSeconds - 3600), 0}, {static_cast<time_t>(nowSeconds - 3600), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / ".suite.json.tmp-Linked").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);

    EXPECT_EQ(AtomicFile::removeAbandonedTemporaries(path, now, std::chrono::seconds(60)), 2u);
    for (const auto& c : cases) EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.removed) << c.name;
    EXPECT_TRUE(std::filesystem::is_directory(dir / ".suite.json.tmp-Folder"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / ".suite.json.tmp-Linked"));
    EXPECT_EQ(AtomicFile::removeAbandonedTemporaries(dir / "missing" / "suite.json", now, std::chrono::seconds(60)),
              0u);
}
