// Light or dark panel: which signal decides, and how each reads.
#include "presentation/PanelAppearance.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace brindleaf {
namespace {

using namespace PanelAppearance;
constexpr auto light = Appearance::light;
constexpr auto dark = Appearance::dark;
constexpr std::optional<Appearance> none;

TEST(PanelAppearanceTests, TheFirstSignalPresentDecides) {
    struct Case {
        std::optional<Appearance> trayColours, panelPixels, colourScheme;
        Appearance palette;
        Decision expected;
    };
    const Case cases[] = {
        {none, none, none, light, {light, Source::applicationPalette}},
        {none, none, none, dark, {dark, Source::applicationPalette}},
        {none, none, dark, light, {dark, Source::colourScheme}},
        {none, light, dark, dark, {light, Source::panelPixels}},
        {none, dark, light, light, {dark, Source::panelPixels}},
        {dark, light, light, light, {dark, Source::trayColours}},
        {light, dark, dark, dark, {light, Source::trayColours}},
        {light, none, none, dark, {light, Source::trayColours}},
    };
    for (const auto& c : cases) {
        const Decision decision = decide({c.trayColours, c.panelPixels, c.colourScheme, c.palette});
        EXPECT_EQ(decision, c.expected) << name(decision.appearance) << " from " << name(decision.source);
    }
}

TEST(PanelAppearanceTests, APanelIsDarkWhenWhiteInkStandsOutMore) {
    const std::pair<Colour, Appearance> cases[] = {
        {{0, 0, 0}, dark},          {{0x30, 0x30, 0x30}, dark},  {{0x26, 0x26, 0x28}, dark},
        {{0x70, 0x70, 0x70}, dark}, {{0x80, 0x80, 0x80}, light}, {{0xec, 0xec, 0xec}, light},
        {{255, 255, 255}, light},   {{0x20, 0x40, 0xc0}, dark},  {{0xff, 0xd0, 0x00}, light},
    };
    for (const auto& [colour, expected] : cases) {
        EXPECT_EQ(ofBackground(colour), expected)
            << int(colour.red) << "," << int(colour.green) << "," << int(colour.blue);
        // A tray that asks for this ink has the other kind of panel.
        EXPECT_NE(ofForeground(colour), expected);
    }
}

// Each rule's boundary, one step either side: the grey where the two inks
// stand out alike, a blue that only the 85 % ink's slight show-through tips
// dark, the 3:1 a half-transparent pixel needs under a compositor, and a tie
// of the pixels' votes.
TEST(PanelAppearanceTests, EachRuleTurnsAtItsBoundary) {
    const std::pair<Colour, Appearance> panels[] = {
        {{0x72, 0x72, 0x72}, dark},
        {{0x73, 0x73, 0x73}, light},
        {{0x00, 0x64, 0xff}, dark},
    };
    for (const auto& [colour, expected] : panels)
        EXPECT_EQ(ofBackground(colour), expected)
            << int(colour.red) << "," << int(colour.green) << "," << int(colour.blue);
    struct Case {
        std::vector<std::uint32_t> pixels;
        bool composited;
        std::optional<Appearance> expected;
    };
    const Case cases[] = {
        // Black at alpha 0x76 lets white ink fall just under 3:1 over a white backdrop.
        {{0x76000000, 0x76000000}, true, none},
        {{0x77000000, 0x77000000}, true, dark},
        // As many light pixels as dark ones: light.
        {{0xff303030, 0xffe8e8e8}, false, light},
        {{0xff303030, 0xffe8e8e8, 0xff303030, 0xffe8e8e8}, true, light},
        {{0xff303030, 0xffe8e8e8, 0xff303030}, false, dark},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ofPanelPixels(c.pixels, c.composited), c.expected)
            << std::hex << c.pixels.front() << " x" << std::dec << c.pixels.size() << ", composited " << c.composited;
}

TEST(PanelAppearanceTests, TheChosenInkContrastsAtLeastThreeToOne) {
    // Each grey level: the tint chosen for it stands out by 3:1 or more.
    for (int level = 0; level < 256; ++level) {
        const auto g = static_cast<std::uint8_t>(level);
        const Colour panel{g, g, g};
        const int ink = ofBackground(panel) == dark ? 255 : 0;
        const auto shown = static_cast<std::uint8_t>(std::lround(0.85 * ink + 0.15 * level));
        EXPECT_GE(contrastRatio(Colour{shown, shown, shown}, panel), 3.0) << level;
    }
}

TEST(PanelAppearanceTests, ColourSchemeValues) {
    EXPECT_EQ(ofColourScheme(0), none);
    EXPECT_EQ(ofColourScheme(1), dark);
    EXPECT_EQ(ofColourScheme(2), light);
    EXPECT_EQ(ofColourScheme(3), none);
}

TEST(PanelAppearanceTests, PanelPixelsByMajority) {
    const std::uint32_t darkGrey = 0xff303030, lightGrey = 0xffe8e8e8, clear = 0x00000000, halfBlack = 0x80000000,
                        halfWhite = 0x80808080, // premultiplied: white at half opacity
        lxqtDark = 0x7f000000, quarterBlack = 0x40000000;
    struct Case {
        std::vector<std::uint32_t> pixels;
        bool composited;
        std::optional<Appearance> expected;
    };
    const Case cases[] = {
        {{}, false, none},
        {{darkGrey, darkGrey, lightGrey}, false, dark},
        {{lightGrey, lightGrey, darkGrey}, true, light},
        // Without a compositor the screen shows the colour bits: black.
        {{clear, clear}, false, dark},
        {{halfWhite, halfWhite}, false, light},
        // With one, a see-through panel says nothing; a half-opaque one its colour.
        {{clear, clear}, true, none},
        {{halfBlack, halfBlack}, true, dark},
        {{halfWhite, halfWhite, clear, clear, clear}, true, light},
        // LXQt's dark theme (black at 50 %) under a compositor: white ink
        // stands out over any backdrop, so the panel is dark, whichever ink
        // the icon on it was drawn in; a quarter black says nothing.
        {{lxqtDark, lxqtDark, lxqtDark, 0xffffffff, 0xffffffff}, true, dark},
        {{lxqtDark, lxqtDark, lxqtDark, 0xff000000}, true, dark},
        {{quarterBlack, quarterBlack}, true, none},
        {{quarterBlack, quarterBlack, quarterBlack, 0xffffffff}, true, light},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ofPanelPixels(c.pixels, c.composited), c.expected)
            << c.pixels.size() << " pixels, composited " << c.composited;
}

} // namespace
} // namespace brindleaf
