#pragma once

#include "presentation/Appearance.hpp"
#include "presentation/ThemeColor.hpp"

#include <optional>
#include <string_view>

namespace brindleaf {

// Each agent's colours: the accent of its rows and the fill and border of its
// name badge. Names are trimmed and lower-cased first; only "codex", "claude
// code" and "hermes" are known.
namespace ProviderTheme {

// A solid colour, or a linear gradient from the leading to the trailing edge.
struct BadgeFill {
    enum class Kind { solid, linearGradient };
    Kind kind = Kind::solid;
    ThemeColor leading;
    ThemeColor trailing; // equals leading for a solid fill
    bool operator==(const BadgeFill&) const = default;
};

// Never absent: an unknown provider takes the secondary label colour.
ThemeColor accentColor(std::string_view providerName, Appearance appearance);
// Absent for an unknown provider.
std::optional<BadgeFill> badgeFill(std::string_view providerName);
// Only Hermes has a border.
std::optional<ThemeColor> badgeStroke(std::string_view providerName, Appearance appearance);

} // namespace ProviderTheme

// How a provider badge is laid out (in logical pixels): the name on one line,
// white on a fill or the primary label colour without one, padded, on a
// rounded rectangle; a 1-pixel border inside its edge when there is one.
namespace ProviderBadgeLayout {
inline constexpr double horizontalPadding = 7;
inline constexpr double verticalPadding = 2;
inline constexpr double cornerRadius = 4;
inline constexpr double borderWidth = 1;
// The background of a badge without a fill.
inline constexpr ThemeColor neutralBackground = ThemeColor::system(ThemeColor::Role::secondaryLabel, 0.13);
ThemeColor textColor(std::string_view providerName);
} // namespace ProviderBadgeLayout

} // namespace brindleaf
