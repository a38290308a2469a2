#pragma once

#include <cstddef>
#include <vector>

namespace brindleaf {

// Which frame of a looping animation shows when, from a monotonic clock.
namespace IconFrameSchedule {

inline constexpr double defaultInterval = 0.1;

// An interval that is not positive and finite would spin a zero-length timer:
// such an interval becomes the default 0.1 s.
double sanitizedInterval(double interval);

// trunc((now - start) / interval) modulo count; 0 before the start or without frames.
std::size_t frameIndex(double now, double start, double interval, std::size_t count);

// When the frame after the one showing at `now` begins.
double nextFrameTime(double now, double start, double interval);

// A loop played at no more than `maxFramesPerSecond`: the frames to show, in
// order, and the time each shows. The loop keeps its length (count x
// interval) and its frames stay evenly spaced through it, so a scrolling
// trace moves at the same speed in fewer, larger steps. Without a limit (not
// positive or not finite), or when the loop is slow enough already, every
// frame at the interval given. At least one frame when there are any.
struct ReducedLoop {
    std::vector<std::size_t> frames;
    double interval = defaultInterval;
    bool operator==(const ReducedLoop&) const = default;
};
ReducedLoop reducedLoop(std::size_t count, double interval, double maxFramesPerSecond);

} // namespace IconFrameSchedule

} // namespace brindleaf
