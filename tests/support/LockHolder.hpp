#pragma once

#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <memory>

namespace brindleaf::testing {

// Another process (flock(1)) that takes the exclusive lock on a file and
// holds it, as a peer stopped or hung in the middle of a change would, until
// it is told to let go; it gives up by itself after `giveUpSeconds`, so a
// test of code that waits for the lock without limit ends, and can tell that
// the wait lasted until then.
class LockHolder {
public:
    static constexpr int giveUpSeconds = 20;

    explicit LockHolder(const std::filesystem::path& lockFile);

    // Waits until the process has the lock; false when it never took it.
    bool waitUntilHeld();
    // Whether the process still runs, so still holds the lock.
    bool holds();
    // Tells the process to let go and waits until it has ended; false when
    // it had ended already or does not end.
    bool release();

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace brindleaf::testing
