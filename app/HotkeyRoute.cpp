#include "app/HotkeyRoute.hpp"

namespace brindleaf {

HotkeyRoute chooseHotkeyRoute(std::optional<std::string_view> sessionType,
                              std::optional<std::string_view> waylandDisplay) {
    if (sessionType && *sessionType == "wayland") return HotkeyRoute::desktopPortal;
    if (waylandDisplay && !waylandDisplay->empty()) return HotkeyRoute::desktopPortal;
    return HotkeyRoute::x11Grabs;
}

} // namespace brindleaf
