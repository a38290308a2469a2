#include "app/PopoverPlacement.hpp"

#include <algorithm>

namespace brindleaf::PopoverPlacement {

Point origin(std::optional<Rect> iconGeometry, Point cursor, int width, int height, Rect available) {
    const Rect anchor = iconGeometry && !iconGeometry->isEmpty() ? *iconGeometry : Rect{cursor.x, cursor.y, 1, 1};
    Point point{anchor.x + anchor.width / 2 - width / 2, anchor.y + anchor.height + gap};
    const int availableBottom = available.y + available.height;
    if (point.y + height > availableBottom && anchor.y - gap - height >= available.y) point.y = anchor.y - gap - height;
    point.x = std::max(available.x, std::min(point.x, available.x + available.width - width));
    point.y = std::max(available.y, std::min(point.y, availableBottom - height));
    return point;
}

} // namespace brindleaf::PopoverPlacement
