#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Where the floating status window goes and how tall it is, without Qt. All
// rectangles are in screen coordinates with the origin at the top left and y
// growing downwards (Qt's), in logical pixels.
namespace FloatingWindowGeometry {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double right() const { return x + width; }
    double bottom() const { return y + height; }
    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    bool intersects(const Rect& other) const;
    bool operator==(const Rect&) const = default;
};

// One attached screen: its whole area and the part windows may use.
struct Screen {
    Rect frame;
    Rect available;
};

inline constexpr double defaultWidth = 600;
inline constexpr double defaultHeight = 660;
inline constexpr double minimumWidth = 500;
inline constexpr double minimumHeight = 400;
inline constexpr double minimumSavedSide = 200;
inline constexpr double anchorGap = 8;
inline constexpr double screenMargin = 8;
inline constexpr double fitMargin = 6;
inline constexpr double fitScreenShare = 0.9;
inline constexpr double fitLimitWithoutScreen = 810;
// The chrome around the content: twice (inner border 7 + outer border 28).
inline constexpr double chromeHeight = 70;
// The working area when no screen is attached.
inline constexpr Rect fallbackArea{0, 0, 1440, 900};

// The stored form of a frame: "{{x, y}, {width, height}}".
std::string frameString(const Rect& frame);
// Absent unless the text holds four numbers in that form.
std::optional<Rect> parseFrameString(std::string_view text);

// The saved frame when it can be used: four finite numbers, at least 200 wide
// and high, meeting the available area of an attached screen. Its size is
// capped to the largest screen's size, so a hand-edited 1e308 cannot ask for a
// huge window.
std::optional<Rect> usableSavedFrame(std::optional<std::string_view> saved, const std::vector<Screen>& screens);

// The screen the anchor lies on, else the main screen (the first of
// `screens`); absent without screens.
std::optional<Screen> screenFor(std::optional<Rect> anchor, const std::vector<Screen>& screens);

// A 600 x 660 frame centred under the anchor, 8 below it, or centred in the
// working area without an anchor; kept 8 inside the working area, the right
// and top limits winning when the area is too small.
Rect defaultPlacement(std::optional<Rect> anchor, const std::vector<Screen>& screens);

// The result of fitting the window to a content height: the target height,
// and the new frame when the window must change.
struct Fit {
    double targetHeight = 0;
    std::optional<Rect> frame;
};

// Nothing for a content height of 1 or less (or not finite). Otherwise the
// target is min(limit, max(400, ceil(h + 70))), the limit being 90 % of the
// available height of `available` (810 without a screen). The new frame keeps
// x, width and the top edge; it is absent when the height is already within
// 0.5. With a screen the frame is then kept 6 inside its available area, the
// bottom limit winning.
std::optional<Fit> fit(const Rect& window, double contentHeight, std::optional<Rect> available);

} // namespace FloatingWindowGeometry

} // namespace brindleaf
