#include "platform/AtomicFile.hpp"
#include "platform/AtomicFileSpaceLimit.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
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
