#include "presentation/SettingsPane.hpp"

namespace brindleaf {

std::string_view toString(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return "general";
    case SettingsPane::agents:
        return "agents";
    case SettingsPane::iCloud:
        return "iCloud";
    case SettingsPane::diagnostics:
        return "diagnostics";
    case SettingsPane::about:
        return "about";
    }
    return "general";
}

std::optional<SettingsPane> settingsPaneFromString(std::string_view raw) {
    for (SettingsPane pane : allSettingsPanes)
        if (toString(pane) == raw) return pane;
    return std::nullopt;
}

} // namespace brindleaf
