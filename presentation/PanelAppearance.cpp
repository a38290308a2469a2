#include "presentation/PanelAppearance.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace brindleaf::PanelAppearance {

namespace {

// sRGB channel (0–255) to linear light.
double linear(std::uint8_t channel) {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> values{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            values[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return values;
    }();
    return table[channel];
}

double luminance(Colour c) { return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue); }

// A grey ink at 85 % opacity over the panel, as the tray composites it.
Colour over(std::uint8_t ink, Colour panel) {
    const auto mix = [ink](std::uint8_t behind) {
        return static_cast<std::uint8_t>(std::lround(0.85 * ink + 0.15 * behind));
    };
    return {mix(panel.red), mix(panel.green), mix(panel.blue)};
}

// A pixel of premultiplied colour and this alpha over an opaque grey backdrop.
Colour shownOver(Colour premultiplied, unsigned alpha, std::uint8_t backdrop) {
    const unsigned behind = ((255u - alpha) * backdrop + 127u) / 255u;
    const auto mix = [behind](std::uint8_t c) { return static_cast<std::uint8_t>(std::min(255u, c + behind)); };
    return {mix(premultiplied.red), mix(premultiplied.green), mix(premultiplied.blue)};
}

} // namespace

double contrastRatio(Colour a, Colour b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Appearance ofBackground(Colour panel) {
    return contrastRatio(over(255, panel), panel) > contrastRatio(over(0, panel), panel) ? Appearance::dark
                                                                                         : Appearance::light;
}

Appearance ofForeground(Colour ink) {
    return ofBackground(ink) == Appearance::dark ? Appearance::light : Appearance::dark;
}

std::optional<Appearance> ofColourScheme(std::uint32_t value) {
    if (value == 1) return Appearance::dark;
    if (value == 2) return Appearance::light;
    return std::nullopt;
}

std::optional<Appearance> ofPanelPixels(const std::vector<std::uint32_t>& pixels, bool composited) {
    // A panel is mostly one colour: each run of equal pixels is judged once.
    enum class Verdict { dark, light, none };
    const auto judge = [composited](std::uint32_t pixel) {
        const unsigned alpha = pixel >> 24;
        const Colour colour{static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
                            static_cast<std::uint8_t>(pixel)};
        if (!composited) return ofBackground(colour) == Appearance::dark ? Verdict::dark : Verdict::light;
        // The screen shows the pixel over whatever lies behind the panel.
        // White ink fares worst over the brightest backdrop, black ink over
        // the darkest: the pixel counts for the ink that still stands out by
        // 3:1 there. The icon's own ink is a few opaque pixels, so it never
        // outweighs a half-transparent panel (nor flips the tint it was
        // drawn with).
        const Colour overWhite = shownOver(colour, alpha, 255), overBlack = shownOver(colour, alpha, 0);
        const double white = contrastRatio(over(255, overWhite), overWhite);
        const double black = contrastRatio(over(0, overBlack), overBlack);
        if (std::max(white, black) < 3.0) return Verdict::none;
        return white > black ? Verdict::dark : Verdict::light;
    };
    std::size_t dark = 0, light = 0;
    std::optional<std::uint32_t> previous;
    Verdict verdict = Verdict::none;
    for (const std::uint32_t pixel : pixels) {
        if (pixel != previous) verdict = judge(pixel), previous = pixel;
        if (verdict == Verdict::dark) ++dark;
        if (verdict == Verdict::light) ++light;
    }
    if (dark + light == 0) return std::nullopt;
    return dark > light ? Appearance::dark : Appearance::light;
}

Decision decide(const Signals& known) {
    if (known.trayColours) return {*known.trayColours, Source::trayColours};
    if (known.panelPixels) return {*known.panelPixels, Source::panelPixels};
    if (known.colourScheme) return {*known.colourScheme, Source::colourScheme};
    return {known.applicationPalette, Source::applicationPalette};
}

std::string_view name(Source source) {
    switch (source) {
    case Source::trayColours:
        return "trayColours";
    case Source::panelPixels:
        return "panelPixels";
    case Source::colourScheme:
        return "colourScheme";
    case Source::applicationPalette:
        break;
    }
    return "applicationPalette";
}

std::string_view name(Appearance appearance) { return appearance == Appearance::dark ? "dark" : "light"; }

} // namespace brindleaf::PanelAppearance
