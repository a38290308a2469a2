#pragma once

#include <string_view>

namespace brindleaf {

// Which tray the status icon goes to. Desktops show tray icons in one of two
// ways: a StatusNotifierItem host on the session bus (a watcher service that
// items register with) or an XEmbed tray (an X client owning the system tray
// selection). They come and go on their own: a panel started after the
// application, a panel restarting, a panel with both.
namespace TrayHostChoice {

enum class Tray { none, statusNotifier, xembed };

struct Hosts {
    // org.kde.StatusNotifierWatcher has an owner on the session bus.
    bool watcher = false;
    // The watcher says a host shows its items.
    bool watcherHasHost = false;
    // An X client owns the system tray selection of the screen.
    bool xembedOwner = false;
    // Our item could not go on the bus, or the watcher would not take it
    // however often it was asked.
    bool watcherRefusesItem = false;
    // The display has no XEmbed trays at all (a Wayland compositor).
    bool noXEmbed = false;
    bool operator==(const Hosts&) const = default;
};

// The tray for the hosts present, given the one in use (none at start):
// - a watcher with a host, or a watcher while no XEmbed tray is there: the
//   StatusNotifierItem (a watcher without a host shows it once a host comes);
//   not, though, a watcher that refuses the item while an XEmbed tray is there;
// - otherwise an XEmbed tray when one is there;
// - with neither: the tray in use stays (a restarting panel's watcher comes
//   back; the item registers again), and at start the XEmbed icon, which
//   embeds itself when a tray appears.
// Where there can be no XEmbed tray, only a watcher counts: the icon waits
// for one (none at start).
Tray choose(Tray current, Hosts hosts);

// Whether any host would show the icon now.
bool anyHost(Hosts hosts);

std::string_view name(Tray tray);

} // namespace TrayHostChoice

} // namespace brindleaf
