#include "tests/app/x11/StatusNotifierHost.hpp"

#include "tests/app/x11/PanelContrast.hpp"
#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/WindowManagerProbe.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <utility>

namespace brindleaf::testing {

namespace {

const std::string watcherProperty = "busctl --user get-property org.kde.StatusNotifierWatcher "
                                    "/StatusNotifierWatcher org.kde.StatusNotifierWatcher ";

// The quoted words of busctl's output.
std::vector<std::string> quoted(const std::string& text) {
    std::vector<std::string> words;
    for (std::size_t at = text.find('"'); at != std::string::npos; at = text.find('"', at + 1)) {
        const std::size_t end = text.find('"', at + 1);
        if (end == std::string::npos) break;
        words.push_back(text.substr(at + 1, end - at - 1));
        at = end;
    }
    return words;
}

// A window's own pixels (not the screen's: the panel is a translucent window,
// and without a compositor the screen shows none of it).
QImage windowImage(xcb_window_t window, int width, int height) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    QImage image;
    if (!xcb_connection_has_error(connection)) {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(connection,
                                                           xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window,
                                                                         0, 0, static_cast<std::uint16_t>(width),
                                                                         static_cast<std::uint16_t>(height), ~0u),
                                                           nullptr);
        // Depth 24 or 32: four bytes a pixel, blue first.
        if (reply && xcb_get_image_data_length(reply) == width * height * 4)
            image = QImage(xcb_get_image_data(reply), width, height,
                           reply->depth == 32 ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32)
                        .copy();
        std::free(reply);
    }
    xcb_disconnect(connection);
    return image;
}

} // namespace

StatusNotifierHost::StatusNotifierHost(Panel panel, const std::string& look) : kind_(panel), look_(look) {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        hadAddress_ = true;
        previousAddress_ = address;
    }
    bus_.makeSessionBus();
    writeFile(config_ / "lxqt" / "panel.conf", "[General]\npanels=panel1\n"
                                               "[panel1]\nplugins=statusnotifier\nposition=Top\ndesktop=0\n"
                                               "[statusnotifier]\ntype=statusnotifier\n");
    if (kind_ == Panel::lxqt && !look_.empty())
        writeFile(config_ / "lxqt" / "lxqt.conf", "[General]\ntheme=" + look_ + "\n");
}

StatusNotifierHost::~StatusNotifierHost() {
    panel_.reset();
    if (hadAddress_)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", previousAddress_.c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool StatusNotifierHost::start() {
    const auto hasHost = [] {
        return TrayRig::run(watcherProperty + "IsStatusNotifierHostRegistered 2>&1") == "b true\n";
    };
    // The pointer away from the panel: an earlier test's click leaves it over
    // the place of the icon, and the panel's hover highlight would be read as ink.
    TrayRig::run("xdotool mousemove 700 600");
    if (kind_ == Panel::gtkSniTray) {
        // It now and then ends at start-up on its own (a failed pattern match
        // in its main): a user would start it again, and so does the rig.
        for (int attempt = 0; attempt < 3; ++attempt) {
            // No accessibility bus: it would outlive the panel.
            ::setenv("NO_AT_BRIDGE", "1", 1);
            std::vector<std::string> arguments{"gtk-sni-tray-standalone", "--watcher", "--top", "--end"};
            if (!look_.empty()) arguments.insert(arguments.end(), {"--color", look_});
            panel_ = std::make_unique<ChildProcess>("/usr/bin/gtk-sni-tray-standalone", arguments);
            ::unsetenv("NO_AT_BRIDGE");
            const pid_t pid = panel_->pid();
            bool ended = false;
            if (waitUntil([&] { return hasHost() || (ended = !TrayRig::isRunning(pid)); }) && !ended) return true;
            panel_.reset();
        }
        return false;
    }
    // The panel reads its own settings; the rig's folders stay the application's.
    const char* rigConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = rigConfig ? rigConfig : "";
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    panel_ = std::make_unique<ChildProcess>("/usr/bin/lxqt-panel", std::vector<std::string>{"lxqt-panel"});
    if (rigConfig)
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (waitUntil(hasHost)) return true;
    ADD_FAILURE() << "the StatusNotifierWatcher has no host 20 s after lxqt-panel started: "
                  << TrayRig::run(watcherProperty + "IsStatusNotifierHostRegistered 2>&1");
    return false;
}

bool StatusNotifierHost::stop() {
    panel_.reset();
    return waitUntil([] {
        return TrayRig::run("busctl --user status org.kde.StatusNotifierWatcher >/dev/null 2>&1 || echo gone") ==
               "gone\n";
    });
}

std::vector<std::string> StatusNotifierHost::registeredItems() const {
    return quoted(TrayRig::run(watcherProperty + "RegisteredStatusNotifierItems 2>/dev/null"));
}

std::optional<std::string> StatusNotifierHost::brindleafItem() const {
    for (const auto& item : registeredItems()) {
        const std::string service = item.substr(0, item.find('/'));
        if (itemProperty(service, "Id") == "s \"Brindleaf\"\n") return service;
    }
    return std::nullopt;
}

std::string StatusNotifierHost::itemProperty(const std::string& service, const std::string& name) const {
    return TrayRig::run("busctl --user get-property " + service + " /StatusNotifierItem org.kde.StatusNotifierItem " +
                        name + " 2>&1");
}

std::vector<QImage> StatusNotifierHost::itemPixmaps(const std::string& service) const {
    // "a(iiay) N  W H BYTES b b b …  W H BYTES …"
    std::istringstream words(itemProperty(service, "IconPixmap"));
    std::string type;
    int count = 0;
    words >> type >> count;
    std::vector<QImage> images;
    for (int i = 0; i < count; ++i) {
        int width = 0, height = 0, length = 0;
        if (!(words >> width >> height >> length) || length != width * height * 4) return {};
        QImage image(width, height, QImage::Format_ARGB32);
        for (int pixel = 0; pixel < width * height; ++pixel) {
            unsigned argb[4] = {};
            for (unsigned& byte : argb) words >> byte;
            image.setPixel(pixel % width, pixel / width, qRgba(argb[1], argb[2], argb[3], argb[0]));
        }
        images.push_back(image);
    }
    return images;
}

namespace {

// The panel's window and its place on the screen, once mapped.
std::optional<std::pair<xcb_window_t, QRect>> panelWindow(StatusNotifierHost::Panel kind) {
    const std::string name = kind == StatusNotifierHost::Panel::lxqt ? "LXQt Panel" : "gtk-sni-tray-standalone";
    std::istringstream ids(TrayRig::run("xdotool search --onlyvisible --name '^" + name + "$' 2>/dev/null"));
    std::string id;
    if (!(ids >> id)) return std::nullopt;
    const std::string info = TrayRig::run("xwininfo -id " + id);
    const auto number = [&](const std::string& label) {
        const std::size_t at = info.find(label);
        return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + label.size());
    };
    const QRect panel(number("Absolute upper-left X:"), number("Absolute upper-left Y:"), number("Width:"),
                      number("Height:"));
    if (panel.width() <= 0 || panel.height() <= 0) return std::nullopt;
    return std::pair{static_cast<xcb_window_t>(std::stoul(id)), panel};
}

} // namespace

std::optional<QRect> StatusNotifierHost::panelArea() const {
    const auto found = panelWindow(kind_);
    if (!found) return std::nullopt;
    return found->second;
}

::testing::AssertionResult StatusNotifierHost::isLeftOutOfWorkArea() const {
    WindowManagerProbe probe;
    if (auto running = probe.isRunning(); !running) return running;
    const auto panel = panelArea();
    if (!panel) return ::testing::AssertionFailure() << "the panel is not mapped";
    const auto area = probe.workArea();
    if (!area) return ::testing::AssertionFailure() << probe.windowManager() << " publishes no work area";
    if ((*area)[1] > panel->bottom()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the work area " << (*area)[0] << "," << (*area)[1] << " " << (*area)[2]
                                         << "x" << (*area)[3] << " of " << probe.windowManager()
                                         << " holds the panel at " << panel->x() << "," << panel->y() << " "
                                         << panel->width() << "x" << panel->height();
}

QImage StatusNotifierHost::panelImage() const {
    const auto found = panelWindow(kind_);
    if (!found) return {};
    return windowImage(found->first, found->second.width(), found->second.height());
}

std::vector<QRect> StatusNotifierHost::iconsIn(const QImage& panel, int gap) {
    const QImage image = panel.convertToFormat(QImage::Format_ARGB32);
    const QRgb background = commonestColour(image);
    // Ink is any pixel off the panel's colour, however faint: an icon tinted
    // for another panel may differ from this one's colour by little.
    const auto isInk = [&](QRgb pixel) {
        return std::abs(qRed(pixel) - qRed(background)) > 24 || std::abs(qGreen(pixel) - qGreen(background)) > 24 ||
               std::abs(qBlue(pixel) - qBlue(background)) > 24 || std::abs(qAlpha(pixel) - qAlpha(background)) > 24;
    };
    std::vector<QRect> icons;
    QRect icon;
    int blank = gap;
    for (int x = 0; x < image.width(); ++x) {
        QRect column;
        for (int y = 0; y < image.height(); ++y)
            if (isInk(image.pixel(x, y))) column |= QRect(x, y, 1, 1);
        if (column.isEmpty()) {
            if (++blank == gap && !icon.isEmpty()) icons.push_back(std::exchange(icon, {}));
            continue;
        }
        blank = 0;
        icon |= column;
    }
    if (!icon.isEmpty()) icons.push_back(icon);
    return icons;
}

std::optional<QRect> StatusNotifierHost::iconArea() const {
    const auto found = panelWindow(kind_);
    if (!found) return std::nullopt;
    const auto& [window, panel] = *found;
    const QImage image = windowImage(window, panel.width(), panel.height());
    if (image.isNull()) return std::nullopt;
    // The panel's own colour is its commonest; ink is what stands out from it.
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most) most = count, background = colour;
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (std::abs(qGray(pixel) - qGray(background)) > 80 || std::abs(qAlpha(pixel) - qAlpha(background)) > 80)
                ink |= QRect(x, y, 1, 1);
        }
    if (ink.isEmpty()) return std::nullopt;
    return ink.translated(panel.topLeft());
}

} // namespace brindleaf::testing
