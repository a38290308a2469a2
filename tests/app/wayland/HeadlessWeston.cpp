#include "tests/app/wayland/HeadlessWeston.hpp"

#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <QRegularExpression>
#include <QString>

#include <csignal>
#include <cstdlib>
#include <optional>

namespace brindleaf::testing {

namespace {

// Weston names its X display in its log as soon as it listens for X clients.
std::optional<std::string> loggedXDisplay(const std::filesystem::path& log) {
    static const QRegularExpression listening(QStringLiteral(R"(xserver listening on display (:\d+))"));
    const std::string text = std::filesystem::exists(log) ? readFile(log) : std::string();
    const auto match = listening.match(QString::fromStdString(text));
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1).toStdString();
}

// Sets a variable of this process, or removes it, until the object goes.
struct VariableLeftOut {
    std::string name;
    std::optional<std::string> saved;
    explicit VariableLeftOut(std::string variable) : name(std::move(variable)) {
        if (const char* value = std::getenv(name.c_str())) saved = value;
        ::unsetenv(name.c_str());
    }
    ~VariableLeftOut() {
        if (saved) ::setenv(name.c_str(), saved->c_str(), 1);
    }
};

} // namespace

HeadlessWeston::HeadlessWeston(const std::filesystem::path& runtimeFolder, const std::filesystem::path& logFolder) {
    std::filesystem::create_directories(logFolder);
    const auto log = logFolder / "weston.log";
    {
        // Weston and what it starts (XWayland, its shell) see the session's
        // runtime folder and no other display.
        VariableLeftOut display("DISPLAY"), wayland("WAYLAND_DISPLAY");
        const std::string runtime = "XDG_RUNTIME_DIR=" + runtimeFolder.string();
        weston_ = std::make_unique<ChildProcess>(
            "/bin/sh", std::vector<std::string>{
                           "sh", "-c", "exec env \"$@\" >\"$0\" 2>&1", (logFolder / "weston.out").string(), runtime,
                           "/usr/bin/weston", "--backend=headless-backend.so", "--use-pixman", "--xwayland",
                           "--idle-time=0", std::string("--socket=") + socketName, "--log=" + log.string()});
    }
    const auto socket = runtimeFolder / socketName;
    if (!waitUntil([&] { return std::filesystem::exists(socket) && loggedXDisplay(log); })) {
        problem_ = "weston made no socket " + socket.string() + " or named no X display; its log:\n" +
                   (std::filesystem::exists(log) ? readFile(log) : std::string("(none)"));
        return;
    }
    xDisplay_ = *loggedXDisplay(log);
    // The first X client starts XWayland.
    if (!waitUntil([&] {
            return shellOutput("xwininfo -root -display " + xDisplay_ + " 2>/dev/null").find("Width") !=
                   std::string::npos;
        })) {
        problem_ = "XWayland did not answer on " + xDisplay_;
    }
}

HeadlessWeston::~HeadlessWeston() {
    // Asked to end first, weston removes its X display's lock and socket
    // from /tmp; what still runs after the bound goes with its group.
    if (weston_ && ::kill(weston_->pid(), SIGTERM) == 0) weston_->waitForExit(5000);
    weston_.reset();
    // Its XWayland may still hold the display's abstract socket a moment
    // after: an X server started then would take the display number (the
    // lock file is gone) and its clients would reach the dying XWayland.
    if (!xDisplay_.empty()) {
        const std::string name = "@/tmp/.X11-unix/X" + xDisplay_.substr(1);
        waitUntil([&] {
            const std::string sockets = readFile("/proc/net/unix");
            return sockets.find(name + "\n") == std::string::npos;
        });
    }
}

} // namespace brindleaf::testing
