#pragma once

#include "core/AgentStatusSnapshot.hpp"

namespace brindleaf {

// The tray icon as the status bar controller drives it. The tray shell draws
// it; the controller only says when.
class StatusItemSurface {
public:
    virtual ~StatusItemSurface() = default;
    // The icon style, rendering mode or size changed: take the new icon set.
    // The new images show at the next render().
    virtual void reloadIcons() = 0;
    // Shows the snapshot: the idle, waiting or running icon and the tooltip.
    virtual void render(const AgentStatusSnapshot& snapshot) = 0;
};

} // namespace brindleaf
