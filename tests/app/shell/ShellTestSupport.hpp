#pragma once

#include <functional>

namespace brindleaf::testing {

// One QApplication for the whole binary, whichever test makes it first.
void shellApplication();

// Runs the event loop until the condition holds, for at most 10 seconds.
// Returns whether it holds.
bool runUntil(const std::function<bool()>& condition);

} // namespace brindleaf::testing
