#include "presentation/FloatingContentLayout.hpp"

#include <cmath>

namespace brindleaf::FloatingContentLayout {

ThemeColor moodColor(StatusWording::Mood mood) {
    switch (mood) {
    case StatusWording::Mood::working:
        return ThemeColor::system(ThemeColor::Role::accent);
    case StatusWording::Mood::waiting:
        return ThemeColor::system(ThemeColor::Role::orange);
    case StatusWording::Mood::unavailable:
        // A green tile would read as all is well.
        return ThemeColor::system(ThemeColor::Role::secondaryLabel);
    case StatusWording::Mood::idle:
    case StatusWording::Mood::notUpdated:
        break;
    }
    return ThemeColor::system(ThemeColor::Role::green);
}

std::string tileSymbol(StatusWording::Mood mood) {
    return mood == StatusWording::Mood::unavailable ? "questionmark" : "checkmark";
}

double tileOpacity(bool hasActiveSessions) { return hasActiveSessions ? 0.16 : 0.12; }

namespace {

// The standard ease-in-ease-out curve: the cubic Bézier through (0, 0),
// (0.42, 0), (0.58, 1) and (1, 1), read at x in [0, 1].
double easeInEaseOut(double x) {
    auto bezier = [](double p1, double p2, double t) {
        const double u = 1 - t;
        return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
    };
    double low = 0;
    double high = 1;
    for (int i = 0; i < 40; ++i) {
        const double middle = (low + high) / 2;
        if (bezier(0.42, 0.58, middle) < x)
            low = middle;
        else
            high = middle;
    }
    return bezier(0, 1, (low + high) / 2);
}

} // namespace

double pulsePhase(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    const double cycle = std::fmod(seconds, 2 * pulseLeg);
    const double leg = cycle <= pulseLeg ? cycle / pulseLeg : (2 * pulseLeg - cycle) / pulseLeg;
    return easeInEaseOut(leg);
}

} // namespace brindleaf::FloatingContentLayout
