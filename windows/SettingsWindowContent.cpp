#include "windows/SettingsWindowContent.hpp"

#include <algorithm>

namespace brindleaf::SettingsWindowContent {

std::string_view tabLabel(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return "General";
    case SettingsPane::agents:
        return "Agents";
    case SettingsPane::iCloud:
        // The status summary stays in a private record store on this computer.
        return "Sync";
    case SettingsPane::diagnostics:
        return "Diagnostics";
    case SettingsPane::about:
        return "About";
    }
    return {};
}

std::string_view tabSymbol(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return "gearshape";
    case SettingsPane::agents:
        return "terminal";
    case SettingsPane::iCloud:
        return "icloud";
    case SettingsPane::diagnostics:
        return "stethoscope";
    case SettingsPane::about:
        return "info.circle";
    }
    return {};
}

int tabIndex(SettingsPane pane) {
    return static_cast<int>(std::find(allSettingsPanes.begin(), allSettingsPanes.end(), pane) -
                            allSettingsPanes.begin());
}

} // namespace brindleaf::SettingsWindowContent
