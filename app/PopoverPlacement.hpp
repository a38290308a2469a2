#pragma once

#include <optional>

namespace brindleaf {

// Where the dashboard popup opens, in screen pixels (y pointing down).
namespace PopoverPlacement {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
};

// Space between the icon and the popup.
inline constexpr int gap = 4;

// The popup's top-left corner: centred under the anchor (the tray icon's
// place when the tray reports one, else the pointer at the click), above it
// when there is no room below, and always inside the screen's available area
// (as far as the popup fits at all, its top-left corner wins).
Point origin(std::optional<Rect> iconGeometry, Point cursor, int width, int height, Rect available);

} // namespace PopoverPlacement

} // namespace brindleaf
