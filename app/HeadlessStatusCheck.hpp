#pragma once

#include "core/AgentStatusSnapshot.hpp"

#include <string>

namespace brindleaf::HeadlessStatusCheck {

// What a one-shot status (--dump-status, --dump-status-json,
// --sync-status-now) leaves out, as lines for standard error: each process
// whose read hangs (left out of the process list), a process list that could
// not be read whole, and each agent whose scan did not answer in time. The
// last two make the snapshot's state unknown: a one-shot run has no earlier
// state to stand in, so it never says "complete" then.
std::string markIncomplete(AgentStatusSnapshot& snapshot);

} // namespace brindleaf::HeadlessStatusCheck
