#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// Every read of an agent's file goes through here. Files are opened with
// O_NONBLOCK | O_CLOEXEC and only regular files are read: a FIFO, socket or
// device is treated as unreadable, never waited on.
namespace SafeFileReader {

struct Tail {
    std::string bytes{};      // the last min(size, maxBytes) bytes of the file
    uint64_t fileSize = 0;    // the file's size when it was read
    uint64_t offset = 0;      // where `bytes` starts in the file
    bool startsMidFile() const { return offset > 0; }
};

// The last `maxBytes` bytes of a regular file, read with pread. Absent when
// the file cannot be opened or is not a regular file.
std::optional<Tail> readTail(const std::string& path, std::size_t maxBytes);

// The whole contents of a regular file of at most `maxBytes` bytes; a larger
// file, an unreadable one, or one that is not a regular file is absent.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes);

// A range of a regular file read in place: up to `length` bytes at `offset`,
// written to `destination` (which must hold `length` bytes). Lets a reader go
// through a large tail range by range in a buffer it keeps, instead of one
// fresh allocation per file.
struct Range {
    std::size_t bytesRead = 0; // 0 at or past the end of the file
    uint64_t fileSize = 0;     // the file's size when it was read
};
std::optional<Range> readRange(const std::string& path, uint64_t offset, std::size_t length, char* destination);

// The cap for the small JSON state files the agents keep (1 MiB).
inline constexpr std::size_t smallFileLimit = 1 << 20;

} // namespace SafeFileReader

} // namespace brindleaf
