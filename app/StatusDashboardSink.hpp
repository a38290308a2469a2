#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "services/StaleSessionBaselines.hpp"

#include <cstdint>

namespace brindleaf {

// What the status bar controller needs of the dashboard model behind the
// popover, the floating window and the Diagnostics pane.
class StatusDashboardSink {
public:
    virtual ~StatusDashboardSink() = default;
    // Stores the snapshot; every surface of the model redraws.
    virtual void publishSnapshot(const AgentStatusSnapshot& snapshot) = 0;
    // A manual refresh starts: the refresh generation grows by one and the
    // spinner turns on. Returns the new generation.
    virtual std::int64_t beginManualRefresh() = 0;
    // The manual refresh of that generation was applied or timed out.
    virtual void finishRefresh(std::int64_t generation) = 0;
    // The stale-session counts the user declared seen, per provider key.
    virtual ClearedStaleBaselines clearedStaleBaselines() const = 0;
    // Sample data was switched on or off: the surfaces redraw.
    virtual void announceChange() = 0;
};

} // namespace brindleaf
