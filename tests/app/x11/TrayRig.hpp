#pragma once

#include "tests/support/ChildProcess.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace brindleaf::testing {

// The end-to-end rig of the tray application on the test's X server: an
// isolated home (user database, XDG folders and runtime folder of its own),
// the built program, an XEmbed tray host (trayer) and xdotool.
class TrayRig {
public:
    // Whether the home's settings already say the first-run welcome was
    // shown. Left out, every launch opens the welcome window half a second
    // after start, which takes the focus from whatever else is open.
    enum class Welcome { alreadyShown, due };

    explicit TrayRig(Welcome welcome = Welcome::alreadyShown);
    ~TrayRig();

    // The built program of the build folder the tests belong to.
    static std::filesystem::path program();
    // Starts the tray host and waits until its panel is mapped (a failure
    // of the test when it is not); `look` are more of trayer's arguments
    // (its tint, say).
    void startTrayHost(const std::vector<std::string>& look = {});
    // Ends the tray host, waits until its panel is gone, and starts it again
    // (with another look, if given).
    void restartTrayHost(const std::vector<std::string>& look = {});
    // Starts the application (arguments after argument 0).
    ChildProcess& startApp(const std::vector<std::string>& arguments = {});
    // Runs the program to its end in the rig's environment.
    ProgramRun runApp(const std::vector<std::string>& arguments) const;
    // Ends every application the rig started.
    void stopApps();
    // The name where the rig's copy listens besides its folder (InstanceName
    // of this user with the rig's home).
    std::string instanceName() const;

    // The tray icon's place on the screen, once embedded in the tray host.
    std::optional<QRect> trayIconGeometry() const;
    // The tray icon's place once the host has laid it out: two looks in a
    // row find it at the same place (none after 20 s without that).
    std::optional<QRect> settledTrayIconGeometry() const;
    // Whether a window of the application with this exact title is mapped.
    bool isWindowShown(const std::string& title) const;
    // The id of the application's mapped window with this exact title.
    std::optional<std::uint32_t> shownWindow(const std::string& title) const;
    // The place on the screen of the application's mapped window with this
    // exact title (without the window manager's frame).
    std::optional<QRect> windowGeometry(const std::string& title) const;
    // The whole screen.
    static QRect screenGeometry();
    // What the screen shows in an area, read from the X server.
    static QImage grabScreen(QRect area);
    // Whether the process (a child of this one) still runs.
    static bool isRunning(pid_t pid);
    // Asks the window manager to close the application's window with this
    // exact title, as its close button does, and returns once the X server
    // has passed the request on; fails, saying why, when no such window is
    // shown, no window manager manages it or the server refused the request.
    ::testing::AssertionResult closeWindow(const std::string& title) const;
    // The state of the window with this exact title (mapped or not, its
    // window manager's view of it), for a failure message.
    std::string describeWindow(const std::string& title) const;
    // The standard settings suite of the rig's home.
    std::filesystem::path settingsFile() const;
    // A boolean of that suite as stored now; absent when missing or not a boolean.
    std::optional<bool> storedBool(const std::string& key) const;

    // The work area the window manager publishes on the root window (the
    // first desktop's), as the screen's available area is read from it.
    static std::optional<QRect> workArea();
    // Publishes a work area in the window manager's place, as it does while
    // panels reserve the screen's edges.
    static void setWorkArea(QRect area);

    // Clicks at the centre of a rectangle (button 1 left, 3 right).
    static void click(QRect area, int button);
    // Clicks again as a user would: once the double-click time after a click
    // just made has passed, so that the two count as two single clicks.
    static void clickAgain(QRect area, int button);
    static void key(const std::string& keys);
    static std::string run(const std::string& command);
    // The process ids of the shown windows with this exact title, a line each.
    static std::string windowOwners(const std::string& title);

    const TempDir& root() const { return root_; }

private:
    TempDir root_;
    std::vector<std::string> environment_;
    std::unique_ptr<ChildProcess> trayHost_;
    std::vector<std::unique_ptr<ChildProcess>> apps_;
};

// Lets a stopped process go on, however the test ends.
struct Resume {
    pid_t pid;
    ~Resume();
};

// Waits for a condition, checking every 50 ms for up to `seconds`.
bool waitUntil(const std::function<bool()>& condition, double seconds = 20);

// One QApplication on the test's X server for the whole binary, whichever
// test makes it first.
void xcbApplication();

} // namespace brindleaf::testing
