#pragma once

#include <optional>

namespace brindleaf {

// Whether a click on the tray icon opens or closes the dashboard popup. The
// popup closes itself when it loses the focus, and a click on the icon can
// take the focus before the click is reported: that click closed the popup
// and must not open it again at once.
class PopoverToggle {
public:
    // How long after closing itself the popup ignores an opening click, in seconds.
    static constexpr double reopenGuard = 0.35;

    enum class Action { open, close, none };

    // A click on the icon (`byIconClick`) or hot key 1 at `now` (monotonic seconds).
    Action toggle(bool isOpen, double now, bool byIconClick) const;
    // The popup closed itself (lost the focus) at `now`.
    void closedItself(double now) { closedItselfAt_ = now; }

private:
    std::optional<double> closedItselfAt_;
};

} // namespace brindleaf
