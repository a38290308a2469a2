#pragma once

#include <chrono>

namespace brindleaf {

// A wall-clock point: seconds since 1970-01-01T00:00:00Z. Every date the
// agents' files carry, and every time a refresh refers to, uses this type.
using Date = double;

// The current wall-clock time as a Date.
inline Date currentDate() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Deadlines, cache ages and elapsed times use the monotonic clock.
using MonotonicClock = std::chrono::steady_clock;

inline double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(MonotonicClock::now().time_since_epoch()).count();
}

} // namespace brindleaf
