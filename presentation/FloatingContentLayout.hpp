#pragma once

#include "presentation/StatusWording.hpp"
#include "presentation/ThemeColor.hpp"

#include <string>

namespace brindleaf {

// The floating window content's measures and colours, in logical pixels.
namespace FloatingContentLayout {

inline constexpr double minimumWidth = 360;
inline constexpr double minimumHeight = 200;
inline constexpr double tileSide = 58;
inline constexpr double tileRadius = 16;
inline constexpr double pulsingDotSide = 14;
// The dot's top right corner lies on the tile's, then moves this far right and up.
inline constexpr double pulsingDotOffset = 5;
// Where the dot's frame starts, from the tile's top left corner.
inline constexpr double pulsingDotLeft = tileSide - pulsingDotSide + pulsingDotOffset;
inline constexpr double pulsingDotTop = -pulsingDotOffset;
// Each way of the pulse (fade and grow, then back) takes this long.
inline constexpr double pulseLeg = 0.9;
// The content, scroll bar included, is clipped to this corner radius.
inline constexpr double cornerRadius = 15;

// Working the accent colour, waiting orange, unavailable the secondary text
// colour, anything else green.
ThemeColor moodColor(StatusWording::Mood mood);
// The tile's symbol without active sessions: "questionmark" while no agent
// could be read, else "checkmark".
std::string tileSymbol(StatusWording::Mood mood);
// The tile's tint: stronger while sessions are active.
double tileOpacity(bool hasActiveSessions);

// How far the pulse is from rest (0: full size and opacity) to its peak (1:
// 40 % larger, 35 % opaque) at `seconds` after it started: there and back
// every 2 x pulseLeg, each way eased in and out on its own.
double pulsePhase(double seconds);

} // namespace FloatingContentLayout

} // namespace brindleaf
