#pragma once

#include "bench/generator/HomeGenerator.hpp"
#include "core/AgentStatusService.hpp"
#include "core/ProcessSampleList.hpp"

#include <memory>
#include <string>
#include <vector>

namespace brindleaf::testing {

// The status service with the three real providers on a generated home, built
// as the composition root builds it for the tray application (`tray`) or for a
// command-line status mode, reading `processes` as the process table.
std::unique_ptr<AgentStatusService> statusServiceOn(const bench::GeneratedHome& home, bool tray,
                                                    ProcessSnapshotReader processes);

// "provider/id" of every shown session, sorted.
std::vector<std::string> shownKeys(const AgentStatusSnapshot& snapshot);

// The ids of the sessions shown for one agent, sorted.
std::vector<std::string> shownIDs(const AgentStatusSnapshot& snapshot, const std::string& provider);

} // namespace brindleaf::testing
