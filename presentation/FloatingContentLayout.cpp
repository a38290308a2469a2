#include "presentation/FloatingContentLayout.hpp"

namespace brindleaf::FloatingContentLayout {

ThemeColor moodColor(StatusWording::Mood mood) {
    switch (mood) {
    case StatusWording::Mood::working:
        return ThemeColor::system(ThemeColor::Role::accent);
    case StatusWording::Mood::waiting:
        return ThemeColor::system(ThemeColor::Role::orange);
    case StatusWording::Mood::idle:
    case StatusWording::Mood::unavailable:
    case StatusWording::Mood::notUpdated:
        break;
    }
    return ThemeColor::system(ThemeColor::Role::green);
}

double tileOpacity(bool hasActiveSessions) { return hasActiveSessions ? 0.16 : 0.12; }

} // namespace brindleaf::FloatingContentLayout
