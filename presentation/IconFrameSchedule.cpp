#include "presentation/IconFrameSchedule.hpp"

#include <cmath>

namespace brindleaf::IconFrameSchedule {

double sanitizedInterval(double interval) {
    return std::isfinite(interval) && interval > 0 ? interval : defaultInterval;
}

namespace {
// Whole frames elapsed since the start, never negative.
double elapsedFrames(double now, double start, double interval) {
    const double elapsed = (now - start) / sanitizedInterval(interval);
    return std::isfinite(elapsed) && elapsed > 0 ? std::floor(elapsed) : 0;
}
} // namespace

std::size_t frameIndex(double now, double start, double interval, std::size_t count) {
    if (count == 0) return 0;
    return static_cast<std::size_t>(std::fmod(elapsedFrames(now, start, interval), static_cast<double>(count)));
}

double nextFrameTime(double now, double start, double interval) {
    const double step = sanitizedInterval(interval);
    const double next = start + (elapsedFrames(now, start, interval) + 1) * step;
    // Rounding can land the boundary at or before now; never schedule into the past.
    return next > now ? next : now + step;
}

} // namespace brindleaf::IconFrameSchedule
