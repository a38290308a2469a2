#pragma once

#include "presentation/SettingsPane.hpp"

#include <string_view>

namespace brindleaf {

// The settings window's tabs: label (also the window title while selected)
// and symbol per pane, and the panes' fixed width.
namespace SettingsWindowContent {

inline constexpr int paneWidth = 520;

std::string_view tabLabel(SettingsPane pane);
std::string_view tabSymbol(SettingsPane pane);
// The pane's place in the tab order.
int tabIndex(SettingsPane pane);

} // namespace SettingsWindowContent

} // namespace brindleaf
