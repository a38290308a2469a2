#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace brindleaf::AtomicFile {

// The step a replacement failed at, with its errno.
struct Failure {
    enum class Step { createTemporary, write, replace };
    Step step;
    int error;
};

// Replaces `path` with `contents` through a temporary file (mode 0600) in the
// same folder, flushed to disk and renamed over it: a reader sees the old file
// or the new one, never a part. The folder must exist. On failure the
// temporary file is removed and `path` is untouched.
std::optional<Failure> replaceContents(const std::filesystem::path& path, std::string_view contents);

} // namespace brindleaf::AtomicFile
