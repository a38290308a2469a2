#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>

namespace brindleaf {

// Whole seconds left until the next check, for the companion.
namespace StatusCheckCountdown {

// Seconds from now to the target, rounded up, never below 0, at most the cap.
int64_t secondsUntil(Date target, Date now, std::optional<int64_t> cap = std::nullopt);
// Seconds from now to start + interval, rounded up, between 0 and the interval rounded up.
int64_t secondsRemaining(Date start, Date now, double interval);

} // namespace StatusCheckCountdown

} // namespace brindleaf
