#pragma once

#include "core/Date.hpp"

#include <limits>
#include <optional>

namespace brindleaf {

// How far in the future an agent's own time stamps may lie and still count.
// The agents stamp their files with the wall clock, and so does the kernel:
// a few seconds of disagreement between writers, or between their clocks and
// ours, are normal. Anything dated further ahead was written before the wall
// clock was set back (or on a machine whose clock runs ahead), so it says
// nothing about what is going on now.
inline constexpr double futureActivitySkew = 60;

// True when `at` lies more than `futureActivitySkew` seconds after `now`.
inline bool isDatedInFuture(Date at, Date now) { return at > now + futureActivitySkew; }

// Keeps in `latest` the latest `now` it is given. True when `now` lies more
// than `futureActivitySkew` before `latest`: the wall clock was set back, and
// `latest` starts again from `now`.
inline bool clockWentBack(std::optional<Date>& latest, Date now) {
    if (latest && isDatedInFuture(*latest, now)) {
        latest = now;
        return true;
    }
    if (!latest || now > *latest) latest = now;
    return false;
}

// Seconds from `at` to `now`, the age every "is this still fresh" window of a
// provider is compared with. Activity dated in the future within the skew is
// as fresh as activity now (a small negative age); beyond the skew it counts
// as infinitely old, so that no window holds it fresh.
inline double activityAge(Date now, Date at) {
    if (isDatedInFuture(at, now)) return std::numeric_limits<double>::infinity();
    return now - at;
}

} // namespace brindleaf
