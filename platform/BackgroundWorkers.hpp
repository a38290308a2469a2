#pragma once

#include <functional>

namespace brindleaf {

// A few process-wide threads for blocking work (network requests) that must
// not hold up the main queue. A job runs on an idle worker; a new worker is
// started while fewer than maxWorkers exist, else the job waits its turn.
// Workers live as long as the process: nothing waits for them at exit.
class BackgroundWorkers {
public:
    static constexpr int maxWorkers = 4;

    // False when no worker exists and none could be started; the job is then dropped.
    static bool run(std::function<void()> job);
};

} // namespace brindleaf
