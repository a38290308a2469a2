#include "tests/app/x11/TrayRig.hpp"

#include "app/InstanceName.hpp"
#include "platform/DefaultsJSON.hpp"
#include "tests/support/BuildDirectory.hpp"
#include "tests/support/WindowManagerProbe.hpp"

#include <QApplication>
#include <QRegularExpression>
#include <QString>

#include <csignal>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brindleaf::testing {

namespace {

void setVariable(std::vector<std::string>& environment, const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
    const std::string prefix = name + "=";
    std::erase_if(environment, [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
    environment.push_back(prefix + value);
}

// The area of `xwininfo` output: absolute upper-left corner, width and height.
std::optional<QRect> areaOf(const std::string& info) {
    static const QRegularExpression area(QStringLiteral(
        R"(Absolute upper-left X:\s+(-?\d+)\s+Absolute upper-left Y:\s+(-?\d+)[\s\S]*?Width:\s+(\d+)\s+Height:\s+(\d+))"));
    const auto match = area.match(QString::fromStdString(info));
    if (!match.hasMatch()) return std::nullopt;
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                 match.captured(4).toInt());
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

TrayRig::TrayRig(Welcome welcome) {
    const auto home = root_ / "home";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(root_ / "run");
    std::filesystem::permissions(root_ / "run", std::filesystem::perms::owner_all);
    root_.write("passwd", "tester:x:" + std::to_string(::getuid()) + ":" + std::to_string(::getgid()) +
                              ":Tester:" + home.string() + ":/bin/sh\n");
    root_.write("group", "testers:x:" + std::to_string(::getgid()) + ":\n");
    // The program and the tools it starts see the rig's environment.
    for (char** entry = environ; *entry; ++entry) environment_.emplace_back(*entry);
    setVariable(environment_, "HOME", home.string());
    setVariable(environment_, "XDG_CONFIG_HOME", (root_ / "config").string());
    setVariable(environment_, "XDG_DATA_HOME", (root_ / "data").string());
    setVariable(environment_, "XDG_CACHE_HOME", (root_ / "cache").string());
    setVariable(environment_, "XDG_RUNTIME_DIR", (root_ / "run").string());
    setVariable(environment_, "NSS_WRAPPER_PASSWD", (root_ / "passwd").string());
    setVariable(environment_, "NSS_WRAPPER_GROUP", (root_ / "group").string());
    // The sanitizer runtime refuses libraries loaded with RTLD_DEEPBIND.
    setVariable(environment_, "NSS_WRAPPER_DISABLE_DEEPBIND", "1");
    std::string asan = "verify_asan_link_order=0";
    if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + inherited;
    setVariable(environment_, "ASAN_OPTIONS", asan);
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("WAYLAND_DISPLAY");
    if (welcome == Welcome::alreadyShown) {
        std::filesystem::create_directories(settingsFile().parent_path());
        std::ofstream(settingsFile()) << "{\"welcomeShown.v1\":true}\n";
    }
}

std::filesystem::path TrayRig::settingsFile() const {
    return root_ / "config" / "brindleaf" / "com.quorvale.Brindleaf.json";
}

std::optional<bool> TrayRig::storedBool(const std::string& key) const {
    std::ifstream file(settingsFile());
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto document = DefaultsJSON::read(text);
    if (!document) return std::nullopt;
    const auto found = document->values.find(key);
    if (found == document->values.end() || !found->second.asBool()) return std::nullopt;
    return *found->second.asBool();
}

TrayRig::~TrayRig() {
    apps_.clear();
    trayHost_.reset();
}

std::filesystem::path TrayRig::program() { return buildDirectory() / "app" / "brindleaf"; }

void TrayRig::startTrayHost(const std::vector<std::string>& look) {
    std::vector<std::string> arguments{"trayer", "--edge",  "top", "--align",  "right", "--widthtype",
                                       "pixel",  "--width", "200", "--height", "26"};
    arguments.insert(arguments.end(), look.begin(), look.end());
    trayHost_ = std::make_unique<ChildProcess>("/usr/bin/trayer", arguments);
    if (!waitUntil([] { return run("xwininfo -root -tree").find("(\"panel\" \"trayer\")") != std::string::npos; }))
        ADD_FAILURE() << "the tray host (trayer) has mapped no panel 20 s after it started";
}

void TrayRig::restartTrayHost(const std::vector<std::string>& look) {
    trayHost_.reset();
    waitUntil([] { return run("xwininfo -root -tree").find("(\"panel\" \"trayer\")") == std::string::npos; });
    startTrayHost(look);
}

ChildProcess& TrayRig::startApp(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {program().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // The user database of the isolated home applies to the program only.
    ::setenv("LD_PRELOAD", "libnss_wrapper.so", 1);
    apps_.push_back(std::make_unique<ChildProcess>(program().string(), argv));
    ::unsetenv("LD_PRELOAD");
    return *apps_.back();
}

void TrayRig::stopApps() { apps_.clear(); }

std::string TrayRig::instanceName() const { return InstanceName::forUser(::getuid(), root_ / "home"); }

ProgramRun TrayRig::runApp(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {program().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto environment = environment_;
    environment.push_back("LD_PRELOAD=libnss_wrapper.so");
    return runProgram(program(), argv, environment);
}

std::optional<QRect> TrayRig::trayIconGeometry() const {
    // The icon is a window of class "brindleaf" inside trayer's panel.
    std::istringstream tree(run("xwininfo -root -tree"));
    static const QRegularExpression geometry(QStringLiteral(R"((\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))"));
    bool inPanel = false;
    std::size_t panelIndent = 0;
    for (std::string line; std::getline(tree, line);) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (line.find("(\"panel\" \"trayer\")") != std::string::npos) {
            inPanel = true;
            panelIndent = indent;
            continue;
        }
        if (inPanel && indent <= panelIndent) inPanel = false;
        if (!inPanel || line.find("(\"brindleaf\" \"brindleaf\")") == std::string::npos) continue;
        const auto match = geometry.match(QString::fromStdString(line));
        if (!match.hasMatch()) continue;
        return QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                     match.captured(2).toInt());
    }
    return std::nullopt;
}

std::optional<QRect> TrayRig::settledTrayIconGeometry() const {
    std::optional<QRect> seen;
    const bool settled = waitUntil([&] {
        const auto now = trayIconGeometry();
        const bool same = now && now == seen;
        seen = now;
        return same;
    });
    return settled ? seen : std::nullopt;
}

bool TrayRig::isWindowShown(const std::string& title) const {
    auto ids = run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    return ids.find_first_of("0123456789") != std::string::npos;
}

std::optional<std::uint32_t> TrayRig::shownWindow(const std::string& title) const {
    std::istringstream ids(run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
    std::uint32_t window = 0;
    if (!(ids >> window)) return std::nullopt;
    return window;
}

std::optional<QRect> TrayRig::windowGeometry(const std::string& title) const {
    std::istringstream ids(run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
    std::string id;
    if (!(ids >> id)) return std::nullopt;
    return areaOf(run("xwininfo -id " + id));
}

QRect TrayRig::screenGeometry() { return areaOf(run("xwininfo -root")).value_or(QRect()); }

QImage TrayRig::grabScreen(QRect area) {
    area &= screenGeometry();
    QImage image;
    if (area.isEmpty()) return image;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(connection)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(area.x()),
                          static_cast<std::int16_t>(area.y()), static_cast<std::uint16_t>(area.width()),
                          static_cast<std::uint16_t>(area.height()), ~0u),
            nullptr);
        // The rig's screen is 24 bits deep: four bytes a pixel, blue first.
        if (reply && xcb_get_image_data_length(reply) == area.width() * area.height() * 4)
            image = QImage(xcb_get_image_data(reply), area.width(), area.height(), QImage::Format_RGB32).copy();
        std::free(reply);
    }
    xcb_disconnect(connection);
    return image;
}

bool TrayRig::isRunning(pid_t pid) {
    // Looked at, not reaped: the process's ChildProcess kills its id (and
    // group) later, which once reaped the system may have given to a process
    // of someone else.
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

::testing::AssertionResult TrayRig::closeWindow(const std::string& title) const {
    std::istringstream ids(run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
    xcb_window_t window = 0;
    if (!(ids >> window)) return ::testing::AssertionFailure() << "no window \"" << title << "\" is shown to close";
    // The window manager's close: it sends the window WM_DELETE_WINDOW. From
    // a pager: as the user asked.
    return WindowManagerProbe().ask(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2, 0, 0, 0});
}

std::string TrayRig::describeWindow(const std::string& title) const {
    std::istringstream ids(run("xdotool search --name '^" + title + "$' 2>/dev/null"));
    std::string described;
    WindowManagerProbe probe;
    for (xcb_window_t window = 0; ids >> window;) described += (described.empty() ? "" : "; ") + probe.describe(window);
    return described.empty() ? "no window \"" + title + "\" (" + probe.windowManager() + ")" : described;
}

std::optional<QRect> TrayRig::workArea() {
    static const QRegularExpression values(QStringLiteral(R"(=\s*(-?\d+),\s*(-?\d+),\s*(\d+),\s*(\d+))"));
    const auto match = values.match(QString::fromStdString(run("xprop -root _NET_WORKAREA")));
    if (!match.hasMatch()) return std::nullopt;
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                 match.captured(4).toInt());
}

void TrayRig::setWorkArea(QRect area) {
    run("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA '" + std::to_string(area.x()) + ", " +
        std::to_string(area.y()) + ", " + std::to_string(area.width()) + ", " + std::to_string(area.height()) + "'");
}

void TrayRig::click(QRect area, int button) {
    run("xdotool mousemove " + std::to_string(area.center().x()) + " " + std::to_string(area.center().y()) + " click " +
        std::to_string(button));
}

void TrayRig::clickAgain(QRect area, int button) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    click(area, button);
}

void TrayRig::key(const std::string& keys) { run("xdotool key " + keys); }

std::string TrayRig::run(const std::string& command) { return shellOutput(command); }

std::string TrayRig::windowOwners(const std::string& title) {
    return run("for id in $(xdotool search --onlyvisible --name '^" + title +
               "$' 2>/dev/null); do xdotool getwindowpid $id; done");
}

Resume::~Resume() { ::kill(pid, SIGCONT); }

void xcbApplication() {
    static int argc = 1;
    static char name[] = "app_x11_tests";
    static char* argv[] = {name, nullptr};
    if (qApp) return;
    qputenv("QT_QPA_PLATFORM", "xcb");
    new QApplication(argc, argv);
}

} // namespace brindleaf::testing
