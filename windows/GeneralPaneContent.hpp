#pragma once

#include "services/ProviderSettingsStore.hpp"
#include "services/StatusIconOptions.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

namespace brindleaf {

// What the General settings pane says and decides: its texts, the icon
// pickers' choices, the preview's animation step and the two shortcut resets.
namespace GeneralPaneContent {

inline constexpr std::string_view openAtLoginTitle = "Open at Login";
inline constexpr std::string_view trayIconHeader = "Tray Icon";
inline constexpr std::string_view iconPickerTitle = "Icon";
inline constexpr std::string_view colorPickerTitle = "Color";
inline constexpr std::string_view sizePickerTitle = "Size";
inline constexpr std::string_view previewTitle = "Preview";
inline constexpr std::string_view shortcutsHeader = "Keyboard Shortcuts";
inline constexpr std::string_view shortcutsFooter = "These shortcuts work in any app.";
inline constexpr std::string_view panelShortcutTitle = "Show Tray Panel";
inline constexpr std::string_view windowShortcutTitle = "Show Floating Window";
inline constexpr std::string_view notificationsHeader = "Notifications";
inline constexpr std::string_view notifyWhenWaitingTitle = "When an agent needs you";
inline constexpr std::string_view notifyWhenFinishedTitle = "When a run finishes";
inline constexpr std::string_view notificationSoundTitle = "Play a sound";

inline constexpr std::array<std::pair<std::string_view, StatusIconStyle>, 2> styleChoices = {
    std::pair{std::string_view("Pulse"), StatusIconStyle::pulse},
    std::pair{std::string_view("Cloud"), StatusIconStyle::cloud}};
inline constexpr std::array<std::pair<std::string_view, StatusIconRenderingMode>, 2> renderingModeChoices = {
    std::pair{std::string_view("Monochrome"), StatusIconRenderingMode::monochrome},
    std::pair{std::string_view("Color"), StatusIconRenderingMode::color}};
inline constexpr std::array<std::pair<std::string_view, StatusIconSizeOption>, 3> sizeChoices = {
    std::pair{std::string_view("Small"), StatusIconSizeOption::small},
    std::pair{std::string_view("Medium"), StatusIconSizeOption::medium},
    std::pair{std::string_view("Large"), StatusIconSizeOption::large}};

// The preview's three cells, in order, and the accessibility label of each ("Idle icon").
inline constexpr std::array<std::string_view, 3> previewCellLabels = {"Idle", "Working", "Waiting"};
inline constexpr double previewStepSeconds = 0.1;

// The toggle reads on while the entry is on or still awaits approval.
bool isOpenAtLoginOn(bool isEnabled, bool requiresApproval);
// The next Working frame: (index + 1) modulo the larger of the frame count and 1.
std::size_t nextPreviewFrame(std::size_t index, std::size_t runningCount);
// The frame shown for an index, brought into range.
std::size_t previewFrame(std::size_t index, std::size_t runningCount);

// Restores the panel (toggle) shortcut's default; when the window shortcut
// holds that default it takes its own default in the same change.
void resetPanelShortcut(ProviderSettingsStore& settings);
// Restores the window shortcut's default; when the panel shortcut holds that
// default it takes its own default in the same change.
void resetWindowShortcut(ProviderSettingsStore& settings);

} // namespace GeneralPaneContent

} // namespace brindleaf
