#pragma once

#include <cstddef>

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

} // namespace IconFrameSchedule

} // namespace brindleaf
