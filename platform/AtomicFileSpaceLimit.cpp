#include "platform/AtomicFileSpaceLimit.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace brindleaf {

struct AtomicFileSpaceLimit::State {
    std::filesystem::path root;
    std::atomic<std::uintmax_t> capacity;
    std::atomic<int> refused{0};

    std::uintmax_t used() const {
        std::uintmax_t total = 0;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(root, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            std::error_code entryError;
            if (it->is_regular_file(entryError)) {
                const auto size = it->file_size(entryError);
                if (!entryError) total += size;
            }
        }
        return total;
    }
};

AtomicFileSpaceLimit::AtomicFileSpaceLimit(std::filesystem::path root, std::uintmax_t capacity)
    : state_(std::make_shared<State>()) {
    state_->root = std::move(root);
    state_->capacity = capacity;
}

AtomicFile::WriteFunction AtomicFileSpaceLimit::writeFunction() const {
    return [state = state_](int fd, const char* data, std::size_t size) -> ssize_t {
        const std::uintmax_t used = state->used();
        const std::uintmax_t capacity = state->capacity;
        const std::uintmax_t free = capacity > used ? capacity - used : 0;
        if (size > 0 && free == 0) {
            ++state->refused;
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, static_cast<std::size_t>(std::min<std::uintmax_t>(size, free)));
    };
}

void AtomicFileSpaceLimit::setCapacity(std::uintmax_t capacity) { state_->capacity = capacity; }

void AtomicFileSpaceLimit::fillUp() { state_->capacity = state_->used(); }

std::uintmax_t AtomicFileSpaceLimit::usedBytes() const { return state_->used(); }

int AtomicFileSpaceLimit::refusedWrites() const { return state_->refused; }

} // namespace brindleaf
