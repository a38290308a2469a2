#include "platform/SessionJumper.hpp"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace brindleaf {

SessionJumper::SessionJumper(const char* displayName, std::string procRoot)
    : lineage_(std::move(procRoot)), tmux_(lineage_), x11_(displayName) {
    const char* display = displayName ? displayName : std::getenv("DISPLAY");
    hasDisplay_ = display && *display;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    onWayland_ = wayland && *wayland;
}

SessionJumper::Route SessionJumper::route(int64_t pid) const {
    Route route;
    const auto owner = lineage_.ownerOf(pid);
    if (!owner) {
        route.reason = processEnded;
        return route;
    }
    if (*owner != getuid()) {
        route.reason = otherUser;
        return route;
    }
    if (!lineage_.hasTerminal(pid)) {
        route.reason = noTerminal;
        return route;
    }
    if (!hasDisplay_ || !x11_.isAvailable()) {
        route.reason = noWindowAccess;
        return route;
    }
    const std::vector<int64_t> chain = lineage_.ancestry(pid);
    const auto depth = [&chain](int64_t process) {
        return std::find(chain.begin(), chain.end(), process) - chain.begin();
    };
    const auto direct = x11_.windowOf(chain);
    // A tmux pane counts when it is nearer than the first window owner: an
    // xterm started from a pane is a terminal of its own.
    if (auto pane = tmux_.paneOf(pid); pane && (!direct || depth(pane->panePID) < depth(direct->owner))) {
        route.pane = pane;
        route.client = tmux_.latestClient(pane->socket);
        if (!route.client) {
            route.reason = tmuxDetached;
            return route;
        }
        if (const auto shown = x11_.windowOf(lineage_.ancestry(route.client->pid))) route.window = shown->window;
    } else if (direct) {
        route.window = direct->window;
    }
    // Under Wayland a terminal that is not on XWayland has no X window to find.
    if (!route.window) route.reason = onWayland_ ? noWindowAccess : noWindow;
    return route;
}

SessionJumpCheck SessionJumper::check(int64_t pid) const {
    const Route found = route(pid);
    return {found.reason.empty(), found.reason};
}

bool SessionJumper::isInView(int64_t pid) const {
    const Route found = route(pid);
    if (!found.reason.empty() || x11_.activeWindow() != found.window) return false;
    return !found.pane || tmux_.activePane(found.pane->socket, *found.client) == found.pane->paneID;
}

bool SessionJumper::goTo(int64_t pid) const {
    const Route found = route(pid);
    if (!found.reason.empty()) return false;
    if (found.pane && !tmux_.show(*found.pane, *found.client)) return false;
    return x11_.activate(*found.window);
}

} // namespace brindleaf
