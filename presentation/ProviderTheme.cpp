#include "presentation/ProviderTheme.hpp"

#include "services/ProviderKey.hpp"

#include <string>

namespace brindleaf {

namespace {

enum class Known { codex, claudeCode, hermes, other };

Known known(std::string_view providerName) {
    const std::string key = providerKey(providerName);
    if (key == "codex") return Known::codex;
    if (key == "claude code") return Known::claudeCode;
    if (key == "hermes") return Known::hermes;
    return Known::other;
}

constexpr ThemeColor codexAccent = ThemeColor::rgb(0.16, 0.36, 0.98);
constexpr ThemeColor claudeAccent = ThemeColor::rgb(0.8, 0.31, 0.12);
constexpr ThemeColor nearBlack = ThemeColor::rgb(0.08, 0.08, 0.09);

} // namespace

namespace ProviderTheme {

ThemeColor accentColor(std::string_view providerName, Appearance appearance) {
    switch (known(providerName)) {
    case Known::codex:
        return codexAccent;
    case Known::claudeCode:
        return claudeAccent;
    case Known::hermes:
        return appearance == Appearance::dark ? ThemeColor::rgb(1, 1, 1) : nearBlack;
    case Known::other:
        break;
    }
    return ThemeColor::system(ThemeColor::Role::secondaryLabel);
}

std::optional<BadgeFill> badgeFill(std::string_view providerName) {
    switch (known(providerName)) {
    case Known::codex:
        return BadgeFill{BadgeFill::Kind::linearGradient, ThemeColor::rgb(0.04, 0.43, 1.0),
                         ThemeColor::rgb(0.5, 0.24, 0.96)};
    case Known::claudeCode:
        return BadgeFill{BadgeFill::Kind::solid, claudeAccent, claudeAccent};
    case Known::hermes:
        return BadgeFill{BadgeFill::Kind::solid, nearBlack, nearBlack};
    case Known::other:
        break;
    }
    return std::nullopt;
}

std::optional<ThemeColor> badgeStroke(std::string_view providerName, Appearance appearance) {
    if (known(providerName) != Known::hermes) return std::nullopt;
    return appearance == Appearance::dark ? ThemeColor::rgb(1, 1, 1, 0.55) : ThemeColor::rgb(0, 0, 0, 0.12);
}

} // namespace ProviderTheme

namespace ProviderBadgeLayout {

ThemeColor textColor(std::string_view providerName) {
    if (ProviderTheme::badgeFill(providerName)) return ThemeColor::rgb(1, 1, 1);
    return ThemeColor::system(ThemeColor::Role::primaryLabel);
}

} // namespace ProviderBadgeLayout

} // namespace brindleaf
