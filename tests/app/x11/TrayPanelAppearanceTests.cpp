// The tray icon of this process tinted for its panel, as the panel shows
// itself: a panel's dock window of this process (as a StatusNotifierWatcher
// inside the panel's process has) in a dark or a light colour, and an XEmbed
// tray that says which ink its icons should have. The images go out as the
// tray receives them, and follow the panel when it changes.
#include "app/shell/StatusNotifierPixmap.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "platform/ManualMainQueue.hpp"
#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/app/x11/PanelContrast.hpp"
#include "tests/support/FakeXEmbedTray.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QSystemTrayIcon>

#include "tests/app/x11/TrayRig.hpp"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace brindleaf {
namespace {

using testing::runUntil;
using Tray = TrayHostChoice::Tray;

constexpr std::chrono::seconds timeLimit{20};
constexpr QRgb darkPanel = 0x303030, lightPanel = 0xe8e8e8;

using testing::xcbApplication;

// A panel's window as the window manager knows it: a mapped dock window of
// this process (_NET_WM_PID), in one colour, on a connection of its own.
class FakeDock {
public:
    explicit FakeDock(QRgb colour) : connection_(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        root_ = screen->root;
        window_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {colour & 0xffffff};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, 400, 30, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, values);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32,
                            1, &dock);
        const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                            &pid);
        xcb_map_window(connection_, window_);
        sync();
    }
    ~FakeDock() {
        xcb_destroy_window(connection_, window_);
        sync();
        xcb_disconnect(connection_);
    }
    // A theme switched: the panel's window is painted in another colour.
    void paint(QRgb colour) {
        const std::uint32_t value = colour & 0xffffff;
        xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXEL, &value);
        xcb_clear_area(connection_, 0, window_, 0, 0, 0, 0);
        sync();
    }
    // Whether the window manager lists it among its clients (_NET_CLIENT_LIST).
    bool isListed() {
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096),
            nullptr);
        bool listed = false;
        if (reply && reply->format == 32) {
            const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i) listed = listed || windows[i] == window_;
        }
        std::free(reply);
        return listed;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_window_t window_ = 0;
};

// A private session bus with this process's connection and a host's.
struct Session {
    testing::PrivateSessionBus daemon;
    QDBusConnection app;
    QDBusConnection host;
    ManualMainQueue queue;
    static inline int count = 0;
    Session()
        : app((xcbApplication(), QDBusConnection::connectToBus(QString::fromStdString(daemon.address()),
                                                               QStringLiteral("panel-app-%1").arg(++count)))),
          host(QDBusConnection::connectToBus(QString::fromStdString(daemon.address()),
                                             QStringLiteral("panel-host-%1").arg(count))) {
        registerStatusNotifierTypes();
    }
    ~Session() {
        QDBusConnection::disconnectFromBus(app.name());
        QDBusConnection::disconnectFromBus(host.name());
    }
    QString address() const { return QString::fromStdString(daemon.address()); }
    // The item's largest image as a host reads it over the bus; null when the read fails.
    QImage iconPixmap(const QString& service) const {
        auto call =
            QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("IconPixmap");
        // The item answers on this thread: the event loop turns while waiting.
        QDBusPendingCall pending = host.asyncCall(call);
        runUntil([&] { return pending.isFinished(); }, timeLimit);
        const QDBusMessage reply = pending.reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        const auto pixmaps = qdbus_cast<StatusNotifierPixmaps>(
            reply.arguments().front().value<QDBusVariant>().variant().value<QDBusArgument>());
        return pixmaps.isEmpty() ? QImage() : pixmaps.back().toImage();
    }
};

struct Shown {
    const char* name;
    AgentStatusSnapshot snapshot;
};

std::vector<Shown> idleWaitingAndWorking() {
    return {{"idle", testing::snapshotOf(AgentRunState::complete, 0, 0)},
            {"waiting", testing::snapshotOf(AgentRunState::complete, 0, 1)},
            {"working", testing::snapshotOf(AgentRunState::inProgress, 1, 0)}};
}

std::string describe(PanelAppearance::Decision decision) {
    return std::string(PanelAppearance::name(decision.appearance)) + " from " +
           std::string(PanelAppearance::name(decision.source));
}

} // namespace

// The panel's dock is dark, then its theme turns light: at each render (the
// refresh cadence) the item reads it again, and the idle, waiting and working
// images the host reads stand out from it by 3:1 or more.
TEST(TrayPanelAppearanceTests, AStatusNotifierPanelsDockDecidesTheTintAndIsFollowed) {
    Session session;
    ASSERT_TRUE(session.daemon.isReady());
    FakeDock dock(darkPanel);
    ASSERT_TRUE(runUntil([&] { return dock.isListed(); }, timeLimit))
        << "the window manager does not list the dock among its clients";
    testing::FakeStatusNotifierWatcher watcher(session.address());
    TrayStatusItem item(session.queue, session.app, true);
    item.reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
    ASSERT_EQ(item.tray(), Tray::statusNotifier);
    ASSERT_TRUE(runUntil([&] { return !watcher.items.isEmpty(); }, timeLimit)) << "the item never registered";
    const QString service = watcher.items.front().section(QLatin1Char('/'), 0, 0);

    for (const QRgb panel : {darkPanel, lightPanel}) {
        SCOPED_TRACE(panel == darkPanel ? "dark panel" : "light panel");
        dock.paint(panel);
        const auto expected = panel == darkPanel ? Appearance::dark : Appearance::light;
        for (const auto& [name, snapshot] : idleWaitingAndWorking()) {
            SCOPED_TRACE(name);
            const bool decided = runUntil(
                [&] {
                    item.render(snapshot);
                    return item.panelAppearance() ==
                           PanelAppearance::Decision{expected, PanelAppearance::Source::panelPixels};
                },
                timeLimit);
            ASSERT_TRUE(decided) << describe(item.panelAppearance());
            const QImage sent = session.iconPixmap(service);
            ASSERT_FALSE(sent.isNull()) << "the host could not read the icon";
            EXPECT_GE(testing::mostContrast(sent, panel), 3.0);
        }
    }
}

// An XEmbed tray that asks for light ink has a dark panel, whatever the
// application's palette says; when it asks for dark ink instead, the icon
// follows, the running loop too.
TEST(TrayPanelAppearanceTests, TheXEmbedTraysColoursDecideTheTintAndAreFollowed) {
    testing::FakeXEmbedTray tray;
    tray.start();
    tray.setColours({0xeeee, 0xeeee, 0xeeee});
    Session session;
    TrayStatusItem item(session.queue, session.app, true);
    item.reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
    ASSERT_EQ(item.tray(), Tray::xembed);
    for (const QRgb panel : {darkPanel, lightPanel}) {
        SCOPED_TRACE(panel == darkPanel ? "light ink asked for" : "dark ink asked for");
        if (panel == lightPanel) tray.setColours({0x2222, 0x2222, 0x2222});
        const auto expected = panel == darkPanel ? Appearance::dark : Appearance::light;
        for (const auto& [name, snapshot] : idleWaitingAndWorking()) {
            SCOPED_TRACE(name);
            item.render(snapshot);
            ASSERT_TRUE(runUntil(
                [&] {
                    return item.panelAppearance() ==
                           PanelAppearance::Decision{expected, PanelAppearance::Source::trayColours};
                },
                timeLimit))
                << describe(item.panelAppearance());
            ASSERT_NE(item.trayIcon(), nullptr);
            const QImage shown = item.trayIcon()->icon().pixmap(QSize(46, 32)).toImage();
            EXPECT_GE(testing::mostContrast(shown, panel), 3.0);
        }
    }
}

} // namespace brindleaf
