#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The tray application's launch decisions, free of Qt: the display to run on
// and the one window a launch opens shortly after start.
namespace LaunchPlan {

// Where the application can run.
struct DisplayChoice {
    bool hasDisplay = false;
    // The Qt platform to force ("xcb"), absent to leave Qt's own choice.
    std::optional<std::string> forcedPlatform;
};

// With both a Wayland and an X display the application runs on X (the global
// hot keys and the window placement need it), unless QT_QPA_PLATFORM names a
// platform or the X display does not answer (then on Wayland). An X display
// that does not answer is no display. Empty variables count as unset.
// `xAnswers` is asked only where the application would run on X.
DisplayChoice chooseDisplay(const std::map<std::string, std::string>& environment,
                            const std::function<bool()>& xAnswers);

// The delayed action a launch schedules, exactly one.
struct LaunchAction {
    enum class Kind { showSettings, showPopover, showGlance, showWelcome, checkForUpdates, showWelcomeIfNeeded };
    Kind kind = Kind::showWelcomeIfNeeded;
    // showSettings only: the pane's raw value, absent to keep the current tab.
    std::optional<std::string> settingsPane;
    double delaySeconds = 0.5;
};

// The first rule that applies: an argument beginning with "--show-settings"
// (split at "=", empty pieces dropped, the second piece names the pane),
// "--show-popover", "--show-glance" (0.8 s each), "--show-welcome" (0.5 s),
// "--check-for-updates" (0.8 s), else the welcome when due (0.5 s).
LaunchAction chooseAction(const std::vector<std::string>& arguments);

// Whether the launch turns sample data on ("--sample-data").
bool wantsSampleData(const std::vector<std::string>& arguments);

// The raw values of the settings panes "--show-settings=" names, in order.
const std::vector<std::string>& settingsPaneNames();

// Whether an argument is a launch flag: it begins with "--show-settings" or
// equals "--show-popover", "--show-glance", "--show-welcome",
// "--check-for-updates" or "--sample-data".
bool isLaunchFlag(const std::string& argument);

// The launch flags among the arguments after argument 0, in their order. A
// second start hands these to the running copy.
std::vector<std::string> launchFlags(const std::vector<std::string>& arguments);

// The message a second start sends the running copy: "brindleaf-launch/1"
// and then each flag, every piece ended by a NUL byte (no argument holds one).
std::string handoffMessage(const std::vector<std::string>& flags);
// The launch flags of such a message; absent when it is not one (another
// header, a last piece not ended, more than `handoffMessageLimit` bytes).
// Arguments that are not launch flags are dropped.
std::optional<std::vector<std::string>> parseHandoff(const std::string& message);
inline constexpr std::size_t handoffMessageLimit = 64 * 1024;

// What the running copy does with the flags of a second start: what its own
// launch would do, at once; without a window flag it opens the dashboard, as
// a click on the tray icon does.
LaunchAction chooseHandedAction(const std::vector<std::string>& flags);

// Whether the welcome window opens on a plain launch: always before the
// welcome was once shown, afterwards only while a needed folder grant is missing.
bool shouldShowWelcome(bool welcomeShown, bool hasMissingFolderAccess);

} // namespace LaunchPlan

} // namespace brindleaf
