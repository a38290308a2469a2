#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace brindleaf {

// The whole contents of a regular file of at most `maxBytes` bytes. The file is
// opened with O_NONBLOCK | O_CLOEXEC, so a FIFO, socket or device is never
// waited on. Absent when the file cannot be opened or read, is not a regular
// file, or is (or grows while it is read to be) larger than `maxBytes`.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes);

} // namespace brindleaf
