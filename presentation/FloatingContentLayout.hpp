#pragma once

#include "presentation/StatusWording.hpp"
#include "presentation/ThemeColor.hpp"

namespace brindleaf {

// The floating window content's measures and colours, in logical pixels.
namespace FloatingContentLayout {

inline constexpr double minimumWidth = 360;
inline constexpr double minimumHeight = 200;
inline constexpr double tileSide = 58;
inline constexpr double tileRadius = 16;
inline constexpr double pulsingDotSide = 14;
inline constexpr double pulsingDotOffset = 5; // right of and above the tile's top right corner

// Working the accent colour, waiting orange, anything else green.
ThemeColor moodColor(StatusWording::Mood mood);
// The tile's tint: stronger while sessions are active.
double tileOpacity(bool hasActiveSessions);

} // namespace FloatingContentLayout

} // namespace brindleaf
