#include "app/PopoverPlacement.hpp"

#include <algorithm>

namespace brindleaf::PopoverPlacement {

Rect bounds(Rect available, Rect screen, int width, int height) {
    if (screen.isEmpty()) return available;
    const auto fits = [](int side, int popup, int screenSide) { return side >= popup || 2 * side >= screenSide; };
    const bool usable = !available.isEmpty() && fits(available.width, width, screen.width) &&
                        fits(available.height, height, screen.height);
    return usable ? available : screen;
}

Point origin(std::optional<Rect> iconGeometry, Point cursor, int width, int height, Rect bounds) {
    const Rect anchor = iconGeometry && !iconGeometry->isEmpty() ? *iconGeometry : Rect{cursor.x, cursor.y, 1, 1};
    Point point{anchor.x + anchor.width / 2 - width / 2, anchor.y + anchor.height + gap};
    const int bottom = bounds.y + bounds.height;
    if (point.y + height > bottom && anchor.y - gap - height >= bounds.y) point.y = anchor.y - gap - height;
    point.x = std::max(bounds.x, std::min(point.x, bounds.x + bounds.width - width));
    point.y = std::max(bounds.y, std::min(point.y, bottom - height));
    return point;
}

} // namespace brindleaf::PopoverPlacement
