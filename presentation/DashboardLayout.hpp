#pragma once

#include "presentation/StatusWording.hpp"
#include "presentation/ThemeColor.hpp"
#include "services/HotkeyShortcut.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace brindleaf {

// The dashboard's fixed measures and the height rule of its scroll area, in
// logical pixels.
namespace DashboardLayout {

inline constexpr double width = 380;
// Sessions listed at most; the header and the agent rows still count all.
inline constexpr std::size_t maxSessionRows = 12;
inline constexpr double minScrollHeight = 60;
inline constexpr double screenShare = 0.7;
inline constexpr double minCap = 240;
inline constexpr double capWithoutScreen = 630;

// The tallest the scroll area gets: 70 % of the visible height of the screen
// the tray icon is on, but never below 240; 630 without a screen.
double scrollHeightCap(std::optional<double> visibleScreenHeight);

// The scroll area follows its content from 60 up to the cap. A content height
// that is not a finite number counts as not measured yet (0).
double scrollAreaHeight(double contentHeight, std::optional<double> visibleScreenHeight);

// The header badge's colour and symbol of each mood: working the accent and
// "waveform.path.ecg", waiting orange and "hand.raised.fill", idle green and
// "checkmark", unavailable the secondary colour and "questionmark", not
// updated the secondary colour and "clock".
ThemeColor moodColor(StatusWording::Mood mood);
std::string moodSymbol(StatusWording::Mood mood);

// The help and accessible name of the header's floating-window button:
// "Show Floating Window (Ctrl+Alt+Super+A)".
std::string floatingWindowButtonTitle(const HotkeyShortcut& windowShortcut);

} // namespace DashboardLayout

} // namespace brindleaf
