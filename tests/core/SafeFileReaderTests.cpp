#include "core/SafeFileReader.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

TEST(SafeFileReaderTests, readsTheTailOfARegularFile) {
    TempDir dir;
    auto path = dir.write("rollout.jsonl", "0123456789");
    auto tail = SafeFileReader::readTail(path.string(), 4);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->bytes, "6789");
    EXPECT_EQ(tail->fileSize, 10u);
    EXPECT_EQ(tail->offset, 6u);
    EXPECT_TRUE(tail->startsMidFile());

    auto whole = SafeFileReader::readTail(path.string(), 100);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->bytes, "0123456789");
    EXPECT_EQ(whole->offset, 0u);
    EXPECT_FALSE(whole->startsMidFile());

    auto empty = SafeFileReader::readTail(dir.write("empty", "").string(), 100);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->bytes, "");

    // A large file: exactly the last bytes.
    std::string big(300000, 'a');
    big += "END";
    auto bigPath = dir.write("big.jsonl", big);
    auto bigTail = SafeFileReader::readTail(bigPath.string(), 131072);
    ASSERT_TRUE(bigTail);
    EXPECT_EQ(bigTail->bytes.size(), 131072u);
    EXPECT_EQ(bigTail->bytes.substr(131069), "END");
    EXPECT_EQ(bigTail->offset, big.size() - 131072);
}

TEST(SafeFileReaderTests, capsWholeFileReads) {
    TempDir dir;
    auto path = dir.write("state.json", "{\"a\":1}");
    EXPECT_EQ(SafeFileReader::readSmallFile(path.string(), 7), "{\"a\":1}");
    EXPECT_EQ(SafeFileReader::readSmallFile(path.string(), 6), std::nullopt);
    EXPECT_EQ(SafeFileReader::readSmallFile(dir.write("e", "").string(), 10), "");
    std::string big(SafeFileReader::smallFileLimit + 1, 'x');
    EXPECT_EQ(SafeFileReader::readSmallFile(dir.write("big", big).string(), SafeFileReader::smallFileLimit),
              std::nullopt);
    big.pop_back();
    EXPECT_EQ(SafeFileReader::readSmallFile(dir.write("fits", big).string(), SafeFileReader::smallFileLimit)->size(),
              SafeFileReader::smallFileLimit);
}

TEST(SafeFileReaderTests, anythingButARegularFileIsAbsentAndNeverBlocks) {
    TempDir dir;
    // A FIFO without a writer would block a plain open() forever.
    auto fifo = dir / "pipe.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(SafeFileReader::readTail(fifo.string(), 100));
    EXPECT_FALSE(SafeFileReader::readSmallFile(fifo.string(), 100));

    EXPECT_FALSE(SafeFileReader::readTail(dir.path().string(), 100));
    EXPECT_FALSE(SafeFileReader::readSmallFile(dir.path().string(), 100));
    EXPECT_FALSE(SafeFileReader::readTail("/dev/zero", 100));
    EXPECT_FALSE(SafeFileReader::readSmallFile("/dev/null", 100));
    EXPECT_FALSE(SafeFileReader::readTail((dir / "missing").string(), 100));

    // A socket file.
    auto socketPath = dir / "s.sock";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_FALSE(SafeFileReader::readSmallFile(socketPath.string(), 100));
    ::close(fd);

    // A link to a regular file is read.
    auto target = dir.write("target.json", "{}");
    std::filesystem::create_symlink(target, dir / "link.json");
    EXPECT_EQ(SafeFileReader::readSmallFile((dir / "link.json").string(), 100), "{}");
}

TEST(SafeFileReaderTests, readsARangeIntoTheCallersBuffer) {
    TempDir dir;
    auto path = dir.write("transcript.jsonl", "0123456789");
    char buffer[8] = {};
    auto range = SafeFileReader::readRange(path.string(), 3, 4, buffer);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->bytesRead, 4u);
    EXPECT_EQ(range->fileSize, 10u);
    EXPECT_EQ(std::string(buffer, 4), "3456");

    range = SafeFileReader::readRange(path.string(), 8, 8, buffer);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->bytesRead, 2u); // cut at the end of the file
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(SafeFileReader::readRange(path.string(), 50, 8, buffer)->bytesRead, 0u);

    auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(SafeFileReader::readRange(fifo.string(), 0, 8, buffer));
    EXPECT_FALSE(SafeFileReader::readRange((dir / "missing").string(), 0, 8, buffer));
}
