#pragma once

#include "platform/KWinScripting.hpp"
#include "platform/KonsoleTabs.hpp"
#include "platform/ProcessLineage.hpp"
#include "platform/SwayIpc.hpp"
#include "platform/TmuxLocator.hpp"
#include "platform/X11WindowActivator.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// Whether the terminal of a session's process can be brought forward, and why not.
struct SessionJumpCheck {
    bool canGo = false;
    std::string reason; // user-visible, empty when it can go
    bool operator==(const SessionJumpCheck&) const = default;
};

// Takes the user to the terminal an agent's process runs in: its tmux pane
// (the pane's window and the pane selected, the server's most recently active
// client switched to it) and the terminal's window, found by walking up the
// process's ancestors to the first one that owns a top-level X window, which
// is then activated through the window manager; when that is a konsole, its
// tab is chosen (over konsole's D-Bus interface) and the window holding it
// activated. Under Wayland terminals on XWayland are found the same way; a
// native Wayland window is found and focused through sway's IPC (the first
// ancestor sway has a window for) when $SWAYSOCK names sway's socket, through
// KWin's scripting where KWin serves the session bus, and gets
// `noWindowAccess` on other desktops.
//
// Every call blocks (tmux, the X server, sway, konsole and KWin each answer
// within a second) and is made off the UI thread.
class SessionJumper {
public:
    // The X display `displayName`, or $DISPLAY when it is null.
    explicit SessionJumper(const char* displayName = nullptr, std::string procRoot = "/proc");

    SessionJumpCheck check(int64_t pid) const;
    // True when the session's terminal window is the active window and, under
    // tmux, its pane is the active pane of the client shown in that window; in
    // konsole, the window holding its tab, with the tab the current one.
    bool isInView(int64_t pid) const;
    // Brings the session's pane and terminal window forward; false (and
    // nothing done) where check() says it cannot.
    bool goTo(int64_t pid) const;

    static constexpr const char* processEnded = "The session's process has ended.";
    static constexpr const char* otherUser = "The session's process belongs to another user.";
    static constexpr const char* noTerminal = "The session does not run in a terminal.";
    static constexpr const char* tmuxDetached = "The session's tmux session is not open in any terminal.";
    static constexpr const char* noWindow = "No window of the session's terminal was found.";
    static constexpr const char* noWindowAccess = "Brindleaf cannot bring terminal windows forward on this desktop.";

private:
    struct Route {
        std::string reason;
        std::optional<TmuxLocator::Pane> pane;
        std::optional<TmuxLocator::Client> client;
        std::optional<uint32_t> window;
        // The window with its owner, and the processes that led to it.
        std::optional<X11WindowActivator::OwnedWindow> shown;
        std::vector<int64_t> windowChain;
        std::optional<SwayIpc::Window> swayWindow;
        std::optional<KWinScripting::Window> kwinWindow;
    };
    Route route(int64_t pid) const;
    // The konsole tab the route leads to, when its window is a konsole's.
    std::optional<KonsoleTabs::Tab> konsoleTab(const Route& route) const;

    ProcessLineage lineage_;
    TmuxLocator tmux_;
    X11WindowActivator x11_;
    SwayIpc sway_;
    KonsoleTabs konsole_;
    KWinScripting kwin_;
    bool hasDisplay_ = false;
    bool onWayland_ = false;
};

} // namespace brindleaf
