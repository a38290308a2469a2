#pragma once

#include "bench/tray/TrayAppRig.hpp"

#include <string>

namespace brindleaf::bench {

// What the working tray icon costs the whole desktop over one tray: the
// application, the tray host, the session bus daemon and the X server (CPU
// from /proc over the window), and the bytes and messages on the session bus
// (a dbus-monitor of the bus writing pcap records).
struct TrayDesktopCost {
    std::string tray; // "XEmbed (trayer)", "StatusNotifierItem (lxqt-panel)"
    int scale = 1;    // QT_SCALE_FACTOR of the application (and of a Qt host)
    double seconds = 0;
    double app = 0, host = 0, bus = 0, xServer = 0; // CPU seconds over the window
    double busBytes = 0;
    long busMessages = 0;
    bool iconSeen = false;
    bool exited = false;
};

enum class TrayKind { xembed, statusNotifier };

// Starts the host, then the program in the rig, both Qt programs at
// QT_SCALE_FACTOR `scale` (trayer does not scale); after `settleSeconds`
// measures for `measureSeconds`. The host and program end before it returns.
TrayDesktopCost measureTrayDesktop(TrayAppRig& rig, const std::string& program, TrayKind kind, int scale,
                                   double settleSeconds, double measureSeconds);

} // namespace brindleaf::bench
