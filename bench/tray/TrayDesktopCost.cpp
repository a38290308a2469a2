#include "bench/tray/TrayDesktopCost.hpp"

#include "bench/tray/ProcessUsage.hpp"
#include "tests/support/ProgramRun.hpp"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace brindleaf::bench {

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const double deadline = now() + seconds;
    while (now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

// The session bus daemon's process, as the bus itself says.
pid_t busDaemon() {
    const std::string text = testing::shellOutput(
        "busctl --user list --no-pager --no-legend 2>/dev/null | awk '$1 == \"org.freedesktop.DBus\" {print $2}'");
    return static_cast<pid_t>(std::atol(text.c_str()));
}

// Bytes and messages in a pcap file of D-Bus messages (each record one message).
std::pair<double, long> pcapTotals(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char header[24];
    if (!in.read(header, sizeof header)) return {0, 0};
    double bytes = 0;
    long messages = 0;
    char record[16];
    while (in.read(record, sizeof record)) {
        std::uint32_t included = 0;
        std::memcpy(&included, record + 8, 4);
        bytes += included;
        ++messages;
        in.seekg(included, std::ios::cur);
    }
    return {bytes, messages};
}

double cpu(pid_t pid) { return pid > 0 ? ProcessUsage::cpuSeconds(pid).value_or(0) : 0; }

} // namespace

TrayDesktopCost measureTrayDesktop(TrayAppRig& rig, const std::string& program, TrayKind kind, int scale,
                                   double settleSeconds, double measureSeconds) {
    TrayDesktopCost cost;
    cost.scale = scale;
    const std::map<std::string, std::string> scaled = {{"QT_SCALE_FACTOR", std::to_string(scale)}};
    pid_t host = 0;
    if (kind == TrayKind::xembed) {
        cost.tray = "XEmbed (trayer)";
        host = startProcess(
            "/usr/bin/trayer",
            {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height", "26"}, nullptr,
            rig.root() / "trayer.log");
        waitFor([] { return testing::shellOutput("xwininfo -root -tree").find("\"trayer\"") != std::string::npos; },
                20);
    } else {
        cost.tray = "StatusNotifierItem (lxqt-panel)";
        // The panel with only its statusnotifier plugin, its settings below the rig.
        const auto config = rig.root() / "panel-config";
        std::filesystem::create_directories(config / "lxqt");
        std::ofstream(config / "lxqt" / "panel.conf")
            << "[General]\npanels=panel1\n[panel1]\nplugins=statusnotifier\nposition=Top\ndesktop=0\n"
               "[statusnotifier]\ntype=statusnotifier\n";
        auto environment = rig.environment();
        environment.erase("LD_PRELOAD");
        environment["XDG_CONFIG_HOME"] = config.string();
        environment.insert_or_assign("QT_SCALE_FACTOR", scaled.at("QT_SCALE_FACTOR"));
        host = startProcess("/usr/bin/lxqt-panel", {}, &environment, rig.root() / "lxqt-panel.log");
        waitFor(
            [] {
                return testing::shellOutput("busctl --user status org.kde.StatusNotifierWatcher 2>/dev/null")
                           .find("PID=") != std::string::npos;
            },
            20);
    }
    const pid_t bus = busDaemon();
    const char* xvfb = std::getenv("BRINDLEAF_XVFB_PID");
    const pid_t xServer = xvfb ? static_cast<pid_t>(std::atol(xvfb)) : 0;

    const double startedAt = now();
    const pid_t app = rig.start(program, {}, "brindleaf", scaled);
    cost.iconSeen = waitFor(
        [kind] {
            if (kind == TrayKind::xembed)
                return testing::shellOutput("xwininfo -root -tree").find("(\"brindleaf\" \"brindleaf\")") !=
                       std::string::npos;
            return testing::shellOutput("busctl --user get-property org.kde.StatusNotifierWatcher "
                                        "/StatusNotifierWatcher org.kde.StatusNotifierWatcher "
                                        "RegisteredStatusNotifierItems 2>/dev/null")
                       .find("org.kde.StatusNotifierItem-") != std::string::npos;
        },
        settleSeconds);
    while (now() < startedAt + settleSeconds) std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const auto pcap = rig.root() / ("bus-" + std::to_string(int(kind)) + "-" + std::to_string(scale) + "x.pcap");
    std::filesystem::remove(pcap);
    const pid_t monitor =
        startProcess("/bin/sh", {"-c", "exec dbus-monitor --session --pcap > '" + pcap.string() + "'"}, nullptr,
                     rig.root() / "dbus-monitor.log");
    const double from = now();
    const double appBefore = cpu(app), hostBefore = cpu(host), busBefore = cpu(bus), xBefore = cpu(xServer);
    while (now() < from + measureSeconds) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cost.app = cpu(app) - appBefore;
    cost.host = cpu(host) - hostBefore;
    cost.bus = cpu(bus) - busBefore;
    cost.xServer = cpu(xServer) - xBefore;
    cost.seconds = now() - from;
    stopProcess(monitor, 2);
    // The monitor's own messages (becoming a monitor) are a handful; the rest is the desktop's.
    std::tie(cost.busBytes, cost.busMessages) = pcapTotals(pcap);
    int status = 0;
    cost.exited = ::waitpid(app, &status, WNOHANG) != 0;
    rig.stop(app);
    stopProcess(host);
    return cost;
}

} // namespace brindleaf::bench
