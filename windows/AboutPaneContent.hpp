#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// What the About settings pane says, and the product web site's pages.
namespace AboutPaneContent {

inline constexpr std::string_view productName = "Brindleaf";
inline constexpr std::string_view checkForUpdatesTitle = "Check for Updates…";
inline constexpr std::string_view automaticChecksTitle = "Check for updates automatically";
inline constexpr std::string_view tagline =
    "See when your coding agents are working and when they need you — from the system tray and a floating window.";
inline constexpr std::string_view privacyPolicyTitle = "Privacy Policy";
inline constexpr std::string_view supportTitle = "Support";
inline constexpr std::string_view copyrightLine = "© 2026 Quorvale. All rights reserved.";
inline constexpr std::string_view nonAffiliationLine =
    "Brindleaf is not affiliated with OpenAI, Anthropic, or the makers of the agents it monitors.";

// "Version 1.0.0 (1)": an absent or empty version reads "1.0", an absent or empty build "1".
std::string versionString(const std::optional<std::string>& version, const std::optional<std::string>& build);

// The product web site's pages, on the given host; absent when no https address can be made of it.
std::optional<std::string> privacyPolicyURL(std::string_view host);
std::optional<std::string> productURL(std::string_view host);
// Whether a link may be opened: an https address with a host.
bool isOpenableLink(std::string_view url);

} // namespace AboutPaneContent

} // namespace brindleaf
