#include "windows/GeneralPaneContent.hpp"

#include <algorithm>

namespace brindleaf::GeneralPaneContent {

bool isOpenAtLoginOn(bool isEnabled, bool requiresApproval) { return isEnabled || requiresApproval; }

std::size_t nextPreviewFrame(std::size_t index, std::size_t runningCount) {
    return (index + 1) % std::max<std::size_t>(runningCount, 1);
}

std::size_t previewFrame(std::size_t index, std::size_t runningCount) {
    return index % std::max<std::size_t>(runningCount, 1);
}

void resetPanelShortcut(ProviderSettingsStore& settings) {
    const HotkeyShortcut panel = ProviderSettingsStore::defaultToggleShortcut;
    HotkeyShortcut window = settings.windowShortcut();
    if (window == panel) window = ProviderSettingsStore::defaultWindowShortcut;
    settings.setShortcuts(panel, window);
}

void resetWindowShortcut(ProviderSettingsStore& settings) {
    const HotkeyShortcut window = ProviderSettingsStore::defaultWindowShortcut;
    HotkeyShortcut panel = settings.toggleShortcut();
    if (panel == window) panel = ProviderSettingsStore::defaultToggleShortcut;
    settings.setShortcuts(panel, window);
}

} // namespace brindleaf::GeneralPaneContent
