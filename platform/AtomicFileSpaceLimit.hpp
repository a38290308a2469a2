#pragma once

#include "platform/AtomicFile.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace brindleaf {

// A small file system for tests: the write function it hands out lets the
// regular files below `root` hold at most `capacity` bytes together, writing
// what still fits and then failing with ENOSPC, the way a full tmpfs does.
// Removing a file frees its space. Safe to use from several threads.
class AtomicFileSpaceLimit {
public:
    AtomicFileSpaceLimit(std::filesystem::path root, std::uintmax_t capacity);

    // For AtomicFile::replaceContents and the stores that take one.
    AtomicFile::WriteFunction writeFunction() const;

    void setCapacity(std::uintmax_t capacity);
    // Leaves no free space: the capacity becomes what the files use now.
    void fillUp();
    // The bytes the regular files below the root hold now.
    std::uintmax_t usedBytes() const;
    // Writes refused for want of space so far.
    int refusedWrites() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace brindleaf
