#pragma once

#include <chrono>
#include <functional>

namespace brindleaf::testing {

// One QApplication for the whole binary, whichever test makes it first.
void shellApplication();

// Runs the event loop until the condition holds, for at most the timeout.
// Returns whether it holds.
bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace brindleaf::testing
