#include "app/PopoverToggle.hpp"

namespace brindleaf {

PopoverToggle::Action PopoverToggle::toggle(bool isOpen, double now, bool byIconClick) const {
    if (isOpen) return Action::close;
    if (byIconClick && closedItselfAt_ && now >= *closedItselfAt_ && now - *closedItselfAt_ < reopenGuard)
        return Action::none;
    return Action::open;
}

} // namespace brindleaf
