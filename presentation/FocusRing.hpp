#pragma once

#include "presentation/ThemeColor.hpp"

namespace brindleaf {

// How a control of our own drawing (the header's round button, the session
// cards, the hidden-stale row, the link button) shows that it has the
// keyboard focus: a line of the accent colour along the inside of its own
// outline, so it needs no room outside the control.
namespace FocusRing {

inline constexpr double lineWidth = 2;
// The line's centre lies this far inside the outline; a rounded outline's
// corner radius shrinks by as much.
inline constexpr double inset = lineWidth / 2;
inline constexpr ThemeColor color = ThemeColor::system(ThemeColor::Role::accent);

} // namespace FocusRing

} // namespace brindleaf
