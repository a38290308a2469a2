#pragma once

#include "presentation/Appearance.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brindleaf {

// Whether the panel that shows the tray icon is light or dark, from the best
// signal there is: template images are tinted black on a light panel and
// white on a dark one, so this decides whether the icon can be seen at all.
// Every signal but the last may be missing; the first one present decides:
//   1. the colours the XEmbed tray asks its icons to use (_NET_SYSTEM_TRAY_COLORS);
//   2. the panel's own pixels around the icon (or the dock of the panel's process);
//   3. the desktop's colour scheme (the settings portal's "color-scheme");
//   4. the application's palette.
// Colours are sRGB, 8 bits a channel.
namespace PanelAppearance {

struct Colour {
    std::uint8_t red = 0, green = 0, blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

struct Signals {
    std::optional<Appearance> trayColours;
    std::optional<Appearance> panelPixels;
    std::optional<Appearance> colourScheme;
    Appearance applicationPalette = Appearance::light;
    friend bool operator==(const Signals&, const Signals&) = default;
};

enum class Source { trayColours, panelPixels, colourScheme, applicationPalette };

struct Decision {
    Appearance appearance = Appearance::light;
    Source source = Source::applicationPalette;
    friend bool operator==(const Decision&, const Decision&) = default;
};

Decision decide(const Signals& known);
// "trayColours", "panelPixels", "colourScheme", "applicationPalette".
std::string_view name(Source source);
std::string_view name(Appearance appearance);

// A panel colour: dark when white at 85 % opacity over it stands out more than
// black at 85 % does (by contrast ratio).
Appearance ofBackground(Colour panel);
// The colour a tray asks its icons to be drawn in: light ink means a dark panel.
Appearance ofForeground(Colour ink);
// The settings portal's org.freedesktop.appearance "color-scheme": 1 prefers
// dark, 2 prefers light, anything else (0, no preference) says nothing.
std::optional<Appearance> ofColourScheme(std::uint32_t value);
// Pixels read from the panel's window, 0xAARRGGBB with premultiplied alpha
// (opaque for a window without alpha), by majority. Without a compositor the
// screen shows a pixel's colour bits whatever its alpha; with one, a pixel
// counts for the tint that stands out by 3:1 over any backdrop (so a half
// transparent black panel is dark), and one through which either tint may
// vanish does not count. Nothing counted: nothing known.
std::optional<Appearance> ofPanelPixels(const std::vector<std::uint32_t>& pixels, bool composited);

// The WCAG contrast ratio of two opaque colours (1 to 21).
double contrastRatio(Colour a, Colour b);

} // namespace PanelAppearance

} // namespace brindleaf
