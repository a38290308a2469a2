#include "app/CommandLine.hpp"

#include "app/BrindleafBarApp.hpp"
#include "app/LaunchPlan.hpp"
#include "services/BuildInfo.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace brindleaf::CommandLine {

namespace {

// The options Qt's application object and its X and Wayland platforms take
// out of the arguments, written with one "-" (Qt also takes them with two).
constexpr std::array<std::string_view, 16> qtOptionsWithValue = {"-platform",
                                                                 "-platformpluginpath",
                                                                 "-platformtheme",
                                                                 "-plugin",
                                                                 "-qwindowgeometry",
                                                                 "-geometry",
                                                                 "-qwindowicon",
                                                                 "-icon",
                                                                 "-qwindowtitle",
                                                                 "-title",
                                                                 "-session",
                                                                 "-style",
                                                                 "-stylesheet",
                                                                 "-display",
                                                                 "-name",
                                                                 "-visual"};
constexpr std::array<std::string_view, 6> qtOptions = {"-reverse", "-testability", "-widgetcount",
                                                       "-nograb",  "-dograb",      "-qmljsdebugger"};
constexpr std::array<std::string_view, 3> qtOptionPrefixes = {"-style=", "-stylesheet=", "-qmljsdebugger="};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view option) {
    return std::find(names.begin(), names.end(), option) != names.end();
}

bool isHeadlessMode(const std::string& argument) { return BrindleafBarApp::headlessMode({argument}).has_value(); }

} // namespace

Decision decide(const std::vector<std::string>& arguments) {
    using Kind = Decision::Kind;
    const bool headless = BrindleafBarApp::headlessMode(arguments).has_value();
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool asksUsage = argument == "--help" || argument == "-h";
        if (asksUsage || argument == "--version") {
            // A mode runs whatever stands beside it; only an unknown option stops it.
            if (headless) continue;
            return {asksUsage ? Kind::printUsage : Kind::printVersion, {}};
        }
        if (argument.empty() || argument[0] != '-') continue;
        if (BrindleafBarApp::isWatchArgument(argument) && !BrindleafBarApp::watchFormat({argument}))
            return {Kind::refuseWatchFormat, argument};
        if (LaunchPlan::isLaunchFlag(argument) || isHeadlessMode(argument)) continue;
        std::string_view qt = argument;
        if (qt.rfind("--", 0) == 0) qt.remove_prefix(1);
        if (among(qtOptionsWithValue, qt)) {
            ++i;
            continue;
        }
        if (among(qtOptions, qt) || std::any_of(qtOptionPrefixes.begin(), qtOptionPrefixes.end(),
                                                [&](std::string_view prefix) { return qt.rfind(prefix, 0) == 0; }))
            continue;
        return {Kind::refuseOption, argument};
    }
    return {headless ? Kind::runHeadlessMode : Kind::runApplication, {}};
}

std::string usage() {
    std::string panes;
    for (const auto& name : LaunchPlan::settingsPaneNames()) {
        panes += (panes.empty() ? "" : ", ") + name;
        // The pane's raw value, kept from the settings; its tab says what it holds here.
        if (name == "iCloud") panes += " (the Sync tab)";
    }
    return "Usage: brindleaf [LAUNCH FLAG...]\n"
           "       brindleaf MODE\n"
           "\n"
           "Brindleaf tells you whether the AI coding agents on this machine (Claude Code,\n"
           "Codex, Hermes) are working, waiting for you, or idle. Without a mode it runs in\n"
           "the tray, one copy per user: starting it again opens the window its launch\n"
           "flags name (the dashboard without one) in the running copy.\n"
           "\n"
           "Modes (run to their end without a window):\n"
           "  --dump-status                    the current status as text\n"
           "  --dump-status-json               the privacy-filtered status payload as JSON\n"
           "  --sync-status-now                save that payload to the local cloud record store\n"
           "  --fetch-cloud-status-json        print the payload stored there\n"
           "  --self-test-settings-migration   check the settings migrations\n"
           "  --watch[=FORMAT]                 a line each time the status changes, until\n"
           "                                   the reader goes: FORMAT json (for Waybar,\n"
           "                                   the default) or text\n"
           "\n"
           "Launch flags (open a window shortly after start):\n"
           "  --show-settings[=PANE]           the settings window at PANE, one of\n"
           "                                   " +
           panes +
           "\n"
           "  --show-popover                   the dashboard\n"
           "  --show-glance                    the floating window\n"
           "  --show-welcome                   the welcome window\n"
           "  --check-for-updates              look for a software update\n"
           "  --sample-data                    show made-up sessions\n"
           "\n"
           "  -h, --help                       print this text\n"
           "  --version                        print the version\n"
           "\n"
           "Qt's own options (-platform, -display, -style ...) are passed to Qt.\n";
}

std::string version() { return "brindleaf " + std::string(BuildInfo::version()) + "\n"; }

std::string refusal(const std::string& option) {
    return "brindleaf: unknown option " + option + " (see brindleaf --help)\n";
}

std::string watchFormatRefusal(const std::string& option) {
    return "brindleaf: unknown format " + option + " (json or text; see brindleaf --help)\n";
}

} // namespace brindleaf::CommandLine
