#include "windows/WindowManagerHints.hpp"

namespace brindleaf {

WindowManagerHints WindowManagerHints::forRole(Role role) {
    switch (role) {
    case Role::ordinary:
        return {};
    case Role::trayPopover:
    case Role::floatingPanel:
        return {"_NET_WM_WINDOW_TYPE_UTILITY",
                {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"},
                true};
    }
    return {};
}

} // namespace brindleaf
