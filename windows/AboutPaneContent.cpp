#include "windows/AboutPaneContent.hpp"

#include <algorithm>
#include <cctype>

namespace brindleaf::AboutPaneContent {

namespace {

bool isHostName(std::string_view host) {
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

std::optional<std::string> page(std::string_view host, std::string_view path) {
    if (!isHostName(host)) return std::nullopt;
    return "https://" + std::string(host) + std::string(path);
}

} // namespace

std::string versionString(const std::optional<std::string>& version, const std::optional<std::string>& build) {
    const std::string shortVersion = version && !version->empty() ? *version : "1.0";
    const std::string buildNumber = build && !build->empty() ? *build : "1";
    return "Version " + shortVersion + " (" + buildNumber + ")";
}

std::optional<std::string> privacyPolicyURL(std::string_view host) { return page(host, "/en/brindleaf-privacy/"); }

std::optional<std::string> productURL(std::string_view host) { return page(host, "/en/brindleaf/"); }

bool isOpenableLink(std::string_view url) {
    constexpr std::string_view scheme = "https://";
    if (url.substr(0, scheme.size()) != scheme) return false;
    std::string_view rest = url.substr(scheme.size());
    return isHostName(rest.substr(0, rest.find('/')));
}

} // namespace brindleaf::AboutPaneContent
