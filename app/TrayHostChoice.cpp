#include "app/TrayHostChoice.hpp"

namespace brindleaf::TrayHostChoice {

Tray choose(Tray current, Hosts hosts) {
    if (hosts.noXEmbed) return hosts.watcher ? Tray::statusNotifier : current;
    const bool xembedInstead = hosts.xembedOwner && (!hosts.watcherHasHost || hosts.watcherRefusesItem);
    if (hosts.watcher && !xembedInstead) return Tray::statusNotifier;
    if (hosts.xembedOwner) return Tray::xembed;
    return current == Tray::none ? Tray::xembed : current;
}

bool anyHost(Hosts hosts) { return hosts.watcherHasHost || hosts.xembedOwner; }

std::string_view name(Tray tray) {
    switch (tray) {
    case Tray::none:
        return "none";
    case Tray::statusNotifier:
        return "statusNotifier";
    case Tray::xembed:
        return "xembed";
    }
    return "none";
}

} // namespace brindleaf::TrayHostChoice
