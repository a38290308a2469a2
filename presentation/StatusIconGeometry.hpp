#pragma once

#include "services/StatusIconOptions.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brindleaf {

// The measures and the drawing geometry of the tray icons, free of any drawing
// library. Coordinates here are y-up (the origin at the bottom left), as the
// rules are written; the painter flips them.
namespace StatusIconGeometry {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

struct PixelRect {
    int x = 0;
    int y = 0; // counted from the top row
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

// Every icon image measures whole points.
struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// Pulse height per size option (14, 16, 19) and width 1.45 h, rounded half away from zero.
int pulseHeight(StatusIconSizeOption size);
Size pulseSize(StatusIconSizeOption size);
// The box a cloud frame is fitted into: 22x18, 30x24, 36x28.
Size cloudBox(StatusIconSizeOption size);

// A tray scales whatever image it gets to its own slot, so every size of a
// style goes to the tray on one canvas, the large size's (28x19 for the pulse,
// 36x28 for the cloud), with the smaller drawings in its middle: the slot's
// scaling then keeps the sizes apart.
Size trayCanvas(StatusIconStyle style);
// Where an image of w x h pixels goes on a canvas of cw x ch pixels: centred,
// each offset rounded to a whole pixel (halves away from zero), unscaled.
PixelRect trayPlacement(int imageWidth, int imageHeight, int canvasWidth, int canvasHeight);

// The running animation: sixteen frames, one every 0.1 s.
inline constexpr int pulseFrameCount = 16;
inline constexpr double frameInterval = 0.1;

// The trace: a small bump, a tall spike with a deep dip, a second bump, flat ends.
inline constexpr std::array<Point, 12> pulseTrace = {{{0, 0},
                                                      {0.18, 0},
                                                      {0.25, 0.18},
                                                      {0.31, 0},
                                                      {0.40, 0},
                                                      {0.47, 1.05},
                                                      {0.55, -0.62},
                                                      {0.61, 0},
                                                      {0.70, 0},
                                                      {0.77, 0.22},
                                                      {0.84, 0},
                                                      {1.00, 0}}};

// Line width of the trace in a rect of this height: max(0.12 h, 1.5).
double pulseLineWidth(double rectHeight);
// The clip of the trace: the rect inset by 0.5 horizontally.
Rect pulseClip(const Rect& rect);
// The 24 points of the trace laid twice, slid left by phase x width, inside
// the rect inset vertically by half a line width plus 0.5.
std::vector<Point> pulseTracePoints(const Rect& rect, double phase);
// The pulse's waiting dot: 0.42 h, flush with the top right corner; the ring
// cleared around it is 0.8 line widths wide.
Rect pulseWaitingDot(const Rect& rect);
double pulseWaitingDotClearance(double rectHeight);
// The cloud's waiting dot: 0.38 h, 1 point in from the top right corner,
// with a cleared ring of 1.5 points.
Rect cloudWaitingDot(const Rect& rect);
inline constexpr double cloudWaitingDotClearance = 1.5;

// The smallest rectangle holding every pixel whose alpha is above 8 (RGBA
// bytes, alpha fourth), or none.
std::optional<PixelRect> opaqueBounds(const std::uint8_t* rgba, int width, int height, std::size_t bytesPerRow);

// One crop for a list of frames of one pixel size: the union of their opaque
// bounds, or none when the sizes differ, nothing is visible, or the union
// covers the whole frame.
struct FramePixels {
    const std::uint8_t* rgba = nullptr;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
};
std::optional<PixelRect> sharedOpaqueBounds(const std::vector<FramePixels>& frames);

// Where an image of w x h pixels goes in a box: fitted without distortion and
// centred (y-down, like the box's pixels); the whole box for an empty image.
Rect fittedRect(int imageWidth, int imageHeight, double boxWidth, double boxHeight);

} // namespace StatusIconGeometry

} // namespace brindleaf
