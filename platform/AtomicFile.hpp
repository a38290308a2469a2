#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/types.h>

namespace brindleaf::AtomicFile {

// The step a replacement failed at, with its errno.
struct Failure {
    enum class Step { createTemporary, write, replace };
    Step step;
    int error;
};

// Writes bytes to a file descriptor as ::write does (a short count, or -1 with
// errno set). Empty: ::write itself. Tests pass one that runs out of space.
using WriteFunction = std::function<ssize_t(int fd, const char* data, std::size_t size)>;

// Replaces `path` with `contents` through a temporary file (mode 0600) in the
// same folder, flushed to disk and renamed over it: a reader sees the old file
// or the new one, never a part. The folder must exist. On failure the
// temporary file is removed and `path` is untouched.
std::optional<Failure> replaceContents(const std::filesystem::path& path, std::string_view contents,
                                       const WriteFunction& write = {});

// The temporary files replaceContents makes for `path` ("." + its name +
// ".tmp-" + six letters or digits) that a process killed between writing and
// renaming left behind: removes those whose modification time lies more than
// `minimumAge` before `now`. Only regular files are removed; a file dated
// after `now` is kept. Returns how many were removed. Call it only while no
// writer of `path` can be between the two steps (under the writers' lock).
std::size_t removeAbandonedTemporaries(const std::filesystem::path& path, std::chrono::system_clock::time_point now,
                                       std::chrono::seconds minimumAge);

} // namespace brindleaf::AtomicFile
