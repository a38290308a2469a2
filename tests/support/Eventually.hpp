#pragma once

#include <chrono>
#include <functional>

namespace brindleaf::testing {

// Checks the condition every 10 ms until it holds or the bound runs out;
// whether it held.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(20));

} // namespace brindleaf::testing
