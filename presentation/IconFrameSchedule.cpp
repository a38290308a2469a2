#include "presentation/IconFrameSchedule.hpp"

#include <algorithm>
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

ReducedLoop reducedLoop(std::size_t count, double interval, double maxFramesPerSecond) {
    ReducedLoop loop;
    loop.interval = sanitizedInterval(interval);
    if (count == 0) return loop;
    const double length = loop.interval * static_cast<double>(count);
    std::size_t shown = count;
    if (std::isfinite(maxFramesPerSecond) && maxFramesPerSecond > 0) {
        // A hair of tolerance: 16 frames of 0.1 s at 2.5 a second are 4 frames,
        // not 3 for a rounding error.
        const double fitting = std::floor(length * maxFramesPerSecond + 1e-9);
        if (fitting < static_cast<double>(count)) shown = std::max<std::size_t>(1, static_cast<std::size_t>(fitting));
    }
    loop.frames.reserve(shown);
    for (std::size_t k = 0; k < shown; ++k) loop.frames.push_back(k * count / shown);
    if (shown != count) loop.interval = length / static_cast<double>(shown);
    return loop;
}

} // namespace brindleaf::IconFrameSchedule
