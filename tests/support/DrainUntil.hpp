#pragma once

#include "platform/ManualMainQueue.hpp"

#include <functional>

namespace brindleaf::testing {

// Drains the queue until the condition holds or a generous bound (30 s of
// wall time) has passed, for results that come from other threads. Returns
// whether the condition holds.
bool drainUntil(ManualMainQueue& queue, const std::function<bool()>& condition);

} // namespace brindleaf::testing
