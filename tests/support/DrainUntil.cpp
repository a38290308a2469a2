#include "tests/support/DrainUntil.hpp"

#include <chrono>
#include <thread>

namespace brindleaf::testing {

bool drainUntil(ManualMainQueue& queue, const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (true) {
        queue.drain();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace brindleaf::testing
