#include "app/LaunchPlan.hpp"

#include <algorithm>

namespace brindleaf::LaunchPlan {

namespace {

bool isSet(const std::map<std::string, std::string>& environment, const std::string& name) {
    auto it = environment.find(name);
    return it != environment.end() && !it->second.empty();
}

bool hasArgument(const std::vector<std::string>& arguments, const std::string& flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

std::vector<std::string> nonEmptyPieces(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == separator) {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

const std::vector<std::string>& paneRawValues() {
    static const std::vector<std::string> values = {"general", "agents", "iCloud", "diagnostics", "about"};
    return values;
}

} // namespace

DisplayChoice chooseDisplay(const std::map<std::string, std::string>& environment) {
    const bool x11 = isSet(environment, "DISPLAY");
    const bool wayland = isSet(environment, "WAYLAND_DISPLAY");
    DisplayChoice choice;
    choice.hasDisplay = x11 || wayland || isSet(environment, "QT_QPA_PLATFORM");
    if (x11 && wayland && !isSet(environment, "QT_QPA_PLATFORM")) choice.forcedPlatform = "xcb";
    return choice;
}

LaunchAction chooseAction(const std::vector<std::string>& arguments) {
    using Kind = LaunchAction::Kind;
    for (const auto& argument : arguments) {
        if (argument.rfind("--show-settings", 0) != 0) continue;
        LaunchAction action{Kind::showSettings, std::nullopt, 0.8};
        auto pieces = nonEmptyPieces(argument, '=');
        if (pieces.size() >= 2) {
            const auto& known = paneRawValues();
            if (std::find(known.begin(), known.end(), pieces[1]) != known.end()) action.settingsPane = pieces[1];
        }
        return action;
    }
    if (hasArgument(arguments, "--show-popover")) return {Kind::showPopover, std::nullopt, 0.8};
    if (hasArgument(arguments, "--show-glance")) return {Kind::showGlance, std::nullopt, 0.8};
    if (hasArgument(arguments, "--show-welcome")) return {Kind::showWelcome, std::nullopt, 0.5};
    if (hasArgument(arguments, "--check-for-updates")) return {Kind::checkForUpdates, std::nullopt, 0.8};
    return {Kind::showWelcomeIfNeeded, std::nullopt, 0.5};
}

bool wantsSampleData(const std::vector<std::string>& arguments) { return hasArgument(arguments, "--sample-data"); }

bool shouldShowWelcome(bool welcomeShown, bool hasMissingFolderAccess) {
    return !welcomeShown || hasMissingFolderAccess;
}

} // namespace brindleaf::LaunchPlan
