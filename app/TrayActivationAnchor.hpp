#pragma once

#include "app/PopoverPlacement.hpp"

#include <optional>

namespace brindleaf {

// Where the dashboard popup is anchored when the tray does not say where its
// icon is (a StatusNotifierItem host never does): at the place of the icon's
// activation. A click passes the host's position (the pointer's where the host
// passes none); the hot key and the launch flag open the popup where the icon
// was last activated, and at the pointer only before any activation.
class TrayActivationAnchor {
public:
    using Point = PopoverPlacement::Point;

    // The icon was activated. A host position of (0, 0) counts as none: hosts
    // that do not know the place pass zeros. Returns the anchor, remembered.
    Point activated(std::optional<Point> hostPosition, Point pointer);
    // The popup opens without an activation.
    Point withoutActivation(Point pointer) const { return last_.value_or(pointer); }

private:
    std::optional<Point> last_;
};

} // namespace brindleaf
