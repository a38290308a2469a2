#include "presentation/DashboardLayout.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::DashboardLayout {

double scrollHeightCap(std::optional<double> visibleScreenHeight) {
    if (!visibleScreenHeight || !std::isfinite(*visibleScreenHeight)) return capWithoutScreen;
    return std::max(screenShare * *visibleScreenHeight, minCap);
}

double scrollAreaHeight(double contentHeight, std::optional<double> visibleScreenHeight) {
    if (!std::isfinite(contentHeight)) contentHeight = 0;
    return std::min(scrollHeightCap(visibleScreenHeight), std::max(contentHeight, minScrollHeight));
}

ThemeColor moodColor(StatusWording::Mood mood) {
    using Role = ThemeColor::Role;
    switch (mood) {
    case StatusWording::Mood::working:
        return ThemeColor::system(Role::accent);
    case StatusWording::Mood::waiting:
        return ThemeColor::system(Role::orange);
    case StatusWording::Mood::idle:
        return ThemeColor::system(Role::green);
    case StatusWording::Mood::unavailable:
    case StatusWording::Mood::notUpdated:
        break;
    }
    return ThemeColor::system(Role::secondaryLabel);
}

std::string moodSymbol(StatusWording::Mood mood) {
    switch (mood) {
    case StatusWording::Mood::working:
        return "waveform.path.ecg";
    case StatusWording::Mood::waiting:
        return "hand.raised.fill";
    case StatusWording::Mood::idle:
        return "checkmark";
    case StatusWording::Mood::unavailable:
        return "questionmark";
    case StatusWording::Mood::notUpdated:
        return "clock";
    }
    return "checkmark";
}

std::string floatingWindowButtonTitle(const HotkeyShortcut& windowShortcut) {
    return "Show Floating Window (" + windowShortcut.displayString() + ")";
}

} // namespace brindleaf::DashboardLayout
