#include "platform/SessionJumper.hpp"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace brindleaf {

SessionJumper::SessionJumper(const char* displayName, std::string procRoot)
    : lineage_(std::move(procRoot)), tmux_(lineage_), x11_(displayName), konsole_(lineage_) {
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
    const bool onX = hasDisplay_ && x11_.isAvailable();
    const bool onSway = sway_.isAvailable();
    // KWin is asked over the bus only when a native Wayland window is looked for.
    std::optional<bool> kwinServes;
    const auto onKWin = [&] {
        if (!kwinServes) kwinServes = onWayland_ && !onSway && kwin_.isAvailable();
        return *kwinServes;
    };
    if (!onX && !onSway && !onKWin()) {
        route.reason = noWindowAccess;
        return route;
    }
    const std::vector<int64_t> chain = lineage_.ancestry(pid);
    const auto depth = [&chain](int64_t process) {
        return std::find(chain.begin(), chain.end(), process) - chain.begin();
    };
    const auto direct = onX ? x11_.windowOf(chain) : std::nullopt;
    // A tmux pane counts when it is nearer than the first window owner: an
    // xterm started from a pane is a terminal of its own.
    if (auto pane = tmux_.paneOf(pid); pane && (!direct || depth(pane->panePID) < depth(direct->owner))) {
        route.pane = pane;
        route.client = tmux_.latestClient(pane->socket);
        if (!route.client) {
            route.reason = tmuxDetached;
            return route;
        }
        if (onX) {
            std::vector<int64_t> clientChain = lineage_.ancestry(route.client->pid);
            if ((route.shown = x11_.windowOf(clientChain))) {
                route.window = route.shown->window;
                route.windowChain = std::move(clientChain);
            }
        }
    } else if (direct) {
        route.window = direct->window;
        route.shown = direct;
        route.windowChain = chain;
    }
    if (!route.window && (onSway || onKWin())) {
        // A native Wayland terminal: the nearest ancestor the compositor has a window for.
        const std::vector<int64_t> shownChain = route.client ? lineage_.ancestry(route.client->pid) : chain;
        if (!onSway) {
            route.kwinWindow = kwin_.windowOf(shownChain);
            if (!route.kwinWindow) route.reason = noWindow;
            return route;
        }
        if (const auto windows = sway_.windows())
            for (const int64_t process : shownChain) {
                const auto window = std::find_if(windows->begin(), windows->end(),
                                                 [process](const SwayIpc::Window& w) { return w.pid == process; });
                if (window == windows->end()) continue;
                route.swayWindow = *window;
                break;
            }
        if (!route.swayWindow) route.reason = noWindow;
        return route;
    }
    // Under Wayland a terminal that is not on XWayland has no X window to find.
    if (!route.window) route.reason = onWayland_ ? noWindowAccess : noWindow;
    return route;
}

std::optional<KonsoleTabs::Tab> SessionJumper::konsoleTab(const Route& route) const {
    if (!route.shown || lineage_.nameOf(route.shown->owner) != "konsole") return std::nullopt;
    return konsole_.tabOf(route.shown->owner, route.windowChain);
}

SessionJumpCheck SessionJumper::check(int64_t pid) const {
    const Route found = route(pid);
    return {found.reason.empty(), found.reason};
}

bool SessionJumper::isInView(int64_t pid) const {
    const Route found = route(pid);
    if (!found.reason.empty()) return false;
    if (found.swayWindow || found.kwinWindow) {
        if (found.swayWindow ? !found.swayWindow->focused : !found.kwinWindow->active) return false;
    } else {
        // Of a konsole, the window holding the tab, and the tab current in it.
        const auto tab = konsoleTab(found);
        if (x11_.activeWindow() != (tab && tab->xWindow ? tab->xWindow : found.window)) return false;
        if (tab && !konsole_.isCurrent(*tab)) return false;
    }
    return !found.pane || tmux_.activePane(found.pane->socket, *found.client) == found.pane->paneID;
}

bool SessionJumper::goTo(int64_t pid) const {
    const Route found = route(pid);
    if (!found.reason.empty()) return false;
    if (found.pane && !tmux_.show(*found.pane, *found.client)) return false;
    if (found.swayWindow) return sway_.focus(found.swayWindow->pid);
    if (found.kwinWindow) return kwin_.activate(found.kwinWindow->pid);
    uint32_t window = *found.window;
    // A konsole's tab is chosen first; it gets the focus with its window.
    if (const auto tab = konsoleTab(found); tab && konsole_.select(*tab) && tab->xWindow) window = *tab->xWindow;
    return x11_.activate(window);
}

} // namespace brindleaf
