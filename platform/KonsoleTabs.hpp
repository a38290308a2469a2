#pragma once

#include "platform/ProcessLineage.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// Finds and selects the konsole tab a process runs in, through konsole's
// D-Bus interface on the user's session bus. A konsole process is there as
// "org.kde.konsole-PID" (or "org.kde.konsole" when it runs every window in
// one process), and is asked only when that name's owner is that process of
// this user. Its sessions are /Sessions/N (`processId`: the tab's first
// process), its windows /Windows/N (`sessionList`, `currentSession`,
// `setCurrentSession`), and its main windows /konsole/MainWindow_N (`winId`:
// their X window).
//
// Every call opens a connection of its own and waits at most a second for
// each answer; calls block and are made off the UI thread.
class KonsoleTabs {
public:
    struct Tab {
        std::string service;
        int32_t session = 0;
        std::string window;              // the window holding it, "/Windows/N"
        std::optional<uint32_t> xWindow; // that window's X window, when known
        bool operator==(const Tab&) const = default;
    };

    explicit KonsoleTabs(const ProcessLineage& lineage) : lineage_(lineage) {}

    // The tab of konsole process `konsole` whose session's process comes first
    // in `processes` (a process and its ancestors); nullopt when that konsole
    // is not on the bus as this user's, does not answer, or has no such tab.
    std::optional<Tab> tabOf(int64_t konsole, const std::vector<int64_t>& processes) const;
    // True when the tab is its window's current session (the focused one,
    // once the window is active).
    bool isCurrent(const Tab& tab) const;
    // Makes the tab its window's current one; it has the focus once the
    // window is activated. True when konsole took the call.
    bool select(const Tab& tab) const;

private:
    const ProcessLineage& lineage_;
};

} // namespace brindleaf
