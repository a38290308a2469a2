#include "sync/StatusCheckCountdown.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::StatusCheckCountdown {

namespace {

int64_t ceilClamped(double seconds) {
    if (!(seconds > 0)) return 0; // also NaN
    double up = std::ceil(seconds);
    if (up >= 9.2e18) return INT64_MAX;
    return static_cast<int64_t>(up);
}

} // namespace

int64_t secondsUntil(Date target, Date now, std::optional<int64_t> cap) {
    int64_t seconds = ceilClamped(target - now);
    if (cap) seconds = std::min(seconds, std::max<int64_t>(0, *cap));
    return seconds;
}

int64_t secondsRemaining(Date start, Date now, double interval) {
    int64_t seconds = ceilClamped(start + interval - now);
    return std::min(seconds, ceilClamped(interval));
}

} // namespace brindleaf::StatusCheckCountdown
