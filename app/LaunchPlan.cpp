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

constexpr char handoffHeader[] = "brindleaf-launch/1";

} // namespace

const std::vector<std::string>& settingsPaneNames() {
    static const std::vector<std::string> values = {"general", "agents", "iCloud", "diagnostics", "about"};
    return values;
}

bool isLaunchFlag(const std::string& argument) {
    static const std::vector<std::string> exact = {"--show-popover", "--show-glance", "--show-welcome",
                                                   "--check-for-updates", "--sample-data"};
    return argument.rfind("--show-settings", 0) == 0 || hasArgument(exact, argument);
}

DisplayChoice chooseDisplay(const std::map<std::string, std::string>& environment,
                            const std::function<bool()>& xAnswers) {
    const bool x11 = isSet(environment, "DISPLAY");
    const bool wayland = isSet(environment, "WAYLAND_DISPLAY");
    DisplayChoice choice;
    if (isSet(environment, "QT_QPA_PLATFORM")) {
        choice.hasDisplay = environment.at("QT_QPA_PLATFORM") != "xcb" || xAnswers();
    } else if (x11 && wayland) {
        choice.hasDisplay = true;
        choice.forcedPlatform = xAnswers() ? "xcb" : "wayland";
    } else {
        choice.hasDisplay = wayland || (x11 && xAnswers());
    }
    return choice;
}

LaunchAction chooseAction(const std::vector<std::string>& arguments) {
    using Kind = LaunchAction::Kind;
    for (const auto& argument : arguments) {
        if (argument.rfind("--show-settings", 0) != 0) continue;
        LaunchAction action{Kind::showSettings, std::nullopt, 0.8};
        auto pieces = nonEmptyPieces(argument, '=');
        if (pieces.size() >= 2) {
            const auto& known = settingsPaneNames();
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

std::vector<std::string> launchFlags(const std::vector<std::string>& arguments) {
    std::vector<std::string> flags;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (isLaunchFlag(arguments[i])) flags.push_back(arguments[i]);
    return flags;
}

std::string handoffMessage(const std::vector<std::string>& flags) {
    std::string message(handoffHeader);
    message += '\0';
    for (const auto& flag : flags) {
        message += flag;
        message += '\0';
    }
    return message;
}

std::optional<std::vector<std::string>> parseHandoff(const std::string& message) {
    if (message.size() > handoffMessageLimit || message.empty() || message.back() != '\0') return std::nullopt;
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t end; (end = message.find('\0', start)) != std::string::npos; start = end + 1)
        pieces.push_back(message.substr(start, end - start));
    if (pieces.front() != handoffHeader) return std::nullopt;
    std::vector<std::string> flags;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        if (isLaunchFlag(pieces[i])) flags.push_back(pieces[i]);
    return flags;
}

LaunchAction chooseHandedAction(const std::vector<std::string>& flags) {
    auto action = chooseAction(flags);
    if (action.kind == LaunchAction::Kind::showWelcomeIfNeeded) action.kind = LaunchAction::Kind::showPopover;
    action.delaySeconds = 0;
    return action;
}

bool wantsSampleData(const std::vector<std::string>& arguments) { return hasArgument(arguments, "--sample-data"); }

bool shouldShowWelcome(bool welcomeShown, bool hasMissingFolderAccess) {
    return !welcomeShown || hasMissingFolderAccess;
}

} // namespace brindleaf::LaunchPlan
