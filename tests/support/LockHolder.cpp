#include "tests/support/LockHolder.hpp"

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace brindleaf::testing {

LockHolder::LockHolder(const std::filesystem::path& lockFile) {
    ::mkfifo((dir_ / "release").c_str(), 0600);
    // The shell runs only once flock has the lock: it marks that, then waits
    // for a line on the fifo.
    process_ = std::make_unique<ChildProcess>(
        "/usr/bin/flock",
        std::vector<std::string>{"flock", "--exclusive", lockFile.string(), "/usr/bin/timeout",
                                 std::to_string(giveUpSeconds), "/bin/sh", "-c", ": > \"$0\"; read line < \"$1\"",
                                 (dir_ / "held").string(), (dir_ / "release").string()});
}

bool LockHolder::waitUntilHeld() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(dir_ / "held")) {
        if (std::chrono::steady_clock::now() >= deadline || !holds()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return holds();
}

bool LockHolder::holds() { return !process_->waitForExit(0); }

bool LockHolder::release() {
    // Without a reader yet (the shell has not reached the fifo) or any more
    // (it has ended) the opening fails instead of blocking.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int fd = -1;
    while ((fd = ::open((dir_ / "release").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (std::chrono::steady_clock::now() >= deadline || !holds()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const bool told = ::write(fd, "\n", 1) == 1;
    ::close(fd);
    return told && process_->waitForExit(10'000);
}

} // namespace brindleaf::testing
