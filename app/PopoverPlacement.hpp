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
    bool operator==(const Rect&) const = default;
};

// Space between the icon and the popup.
inline constexpr int gap = 4;

// The area the popup is kept inside: the screen's available area, unless
// that is empty, or in one direction both smaller than the popup and less
// than half the screen; then the whole screen. Window managers publish such
// areas while panels reserve their edges (two panels that each claim half
// the screen leave none), and keeping the popup inside one would put it in
// the screen's corner.
Rect bounds(Rect available, Rect screen, int width, int height);

// The popup's top-left corner: centred under the anchor (the tray icon's
// place when the tray reports one, else the pointer at the click), above it
// when there is no room below, and always inside the bounds (as far as the
// popup fits at all, its top-left corner wins).
Point origin(std::optional<Rect> iconGeometry, Point cursor, int width, int height, Rect bounds);

} // namespace PopoverPlacement

} // namespace brindleaf
