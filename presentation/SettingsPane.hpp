#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace brindleaf {

// The tabs of the settings window, in tab order. Raw values equal the case names.
enum class SettingsPane { general, agents, iCloud, diagnostics, about };

inline constexpr std::array<SettingsPane, 5> allSettingsPanes = {
    SettingsPane::general, SettingsPane::agents, SettingsPane::iCloud, SettingsPane::diagnostics, SettingsPane::about};

std::string_view toString(SettingsPane pane);
// Exact match of a raw value, letter case included; anything else names no pane.
std::optional<SettingsPane> settingsPaneFromString(std::string_view raw);

} // namespace brindleaf
