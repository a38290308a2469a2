// The tray icon of this process moving between an XEmbed tray on the test's X
// server and a panel's watcher on a private session bus, as panels start
// beside it or refuse it.
#include "app/shell/TrayStatusItem.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace brindleaf {
namespace {

using testing::FakeStatusNotifierWatcher;
using Tray = TrayHostChoice::Tray;

// One QApplication on the test's X server for the whole binary.
void xcbApplication() {
    static int argc = 1;
    static char name[] = "app_x11_tests";
    static char* argv[] = {name, nullptr};
    if (qApp) return;
    qputenv("QT_QPA_PLATFORM", "xcb");
    new QApplication(argc, argv);
}

// Runs the event loop until the condition holds, for at most 20 seconds.
bool runUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Waits until the X server has handled every request of this connection.
void sync(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// An XEmbed tray as far as tray icons see it: a client owning the system tray
// selection, counting the icons that ask it to dock them.
class FakeXEmbedTray {
public:
    FakeXEmbedTray() : connection_(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        opcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
        xcb_set_selection_owner(connection_, window_, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = screen->root;
        message.type = atom("MANAGER");
        message.data.data32[0] = XCB_CURRENT_TIME;
        message.data.data32[1] = selection;
        message.data.data32[2] = window_;
        xcb_send_event(connection_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        sync(connection_);
    }
    ~FakeXEmbedTray() { xcb_disconnect(connection_); }
    FakeXEmbedTray(const FakeXEmbedTray&) = delete;
    FakeXEmbedTray& operator=(const FakeXEmbedTray&) = delete;

    // The dock requests that arrived so far.
    int dockRequests() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                // SYSTEM_TRAY_REQUEST_DOCK is opcode 0.
                if (message->type == opcode_ && message->data.data32[1] == 0) ++docks_;
            }
            std::free(event);
        }
        return docks_;
    }
    // Every dock request this process has sent by now, once it arrived.
    int dockRequestsSentByNow() {
        xcbApplication();
        QCoreApplication::processEvents();
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) sync(x11->connection());
        sync(connection_);
        return dockRequests();
    }

private:
    xcb_atom_t atom(const char* name) const {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }

    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
    xcb_atom_t opcode_ = 0;
    int docks_ = 0;
};

// A private session bus with this process's connection, and the log.
struct Session {
    testing::PrivateSessionBus daemon;
    QDBusConnection app;
    ManualMainQueue queue;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    static inline int count = 0;
    Session()
        : app((xcbApplication(), QDBusConnection::connectToBus(QString::fromStdString(daemon.address()),
                                                               QStringLiteral("tray-switch-%1").arg(++count)))) {
        Logger::setSink(log);
    }
    ~Session() {
        Logger::setSink(nullptr);
        QDBusConnection::disconnectFromBus(app.name());
    }
    QString address() const { return QString::fromStdString(daemon.address()); }
    std::size_t lines(const std::string& prefix) const {
        std::size_t n = 0;
        for (const auto& message : log->messages()) n += message.starts_with(prefix);
        return n;
    }
    // The tray icon in the idle state, watching both kinds of tray.
    std::unique_ptr<TrayStatusItem> idleItem() {
        auto item = std::make_unique<TrayStatusItem>(queue, app, true);
        item->reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
        item->render(testing::snapshotOf(AgentRunState::complete, 0, 0));
        return item;
    }
};

} // namespace

// A panel whose watcher takes its name and registers its host 50 ms later
// (and not before it answered that it had none), beside an XEmbed tray: the
// icon moves once, and no XEmbed icon is made in between.
TEST(TrayHostSwitchTests, AWatcherStartingBesideAnXEmbedTrayMovesTheIconOnce) {
    FakeXEmbedTray tray;
    Session session;
    ASSERT_TRUE(session.daemon.isReady());
    auto item = session.idleItem();
    ASSERT_EQ(item->tray(), Tray::xembed);
    ASSERT_TRUE(runUntil([&] { return tray.dockRequests() == 1; })) << "the XEmbed icon never asked to dock";

    QElapsedTimer started;
    started.start();
    FakeStatusNotifierWatcher watcher(session.address(), {.hostRegistered = false});
    ASSERT_TRUE(runUntil([&] { return watcher.hostQueries > 0 && started.elapsed() >= 50; }))
        << "nobody asked the watcher whether it has a host";
    watcher.registerHost();
    ASSERT_TRUE(runUntil([&] { return item->tray() == Tray::statusNotifier && !watcher.items.isEmpty(); }))
        << "tray " << TrayHostChoice::name(item->tray()) << ", no item registered";
    EXPECT_EQ(watcher.items.size(), 1);
    EXPECT_EQ(session.lines("statusItem.trayChanged "), 1u);
    EXPECT_EQ(session.lines("statusItem.trayChanged host=statusNotifier"), 1u);
    EXPECT_EQ(tray.dockRequestsSentByNow(), 1);
}

// Beside an XEmbed tray and a watcher with a host, the icon goes to the
// watcher; when the watcher refuses it however often it is asked, or the item
// cannot go on the bus, the icon docks in the XEmbed tray.
TEST(TrayHostSwitchTests, ARefusedItemGivesWayToAnXEmbedTray) {
    FakeXEmbedTray tray;
    for (const bool exportFails : {false, true}) {
        SCOPED_TRACE(exportFails ? "the item cannot go on the bus" : "the watcher refuses the item");
        const int docked = tray.dockRequestsSentByNow();
        Session session;
        FakeStatusNotifierWatcher watcher(session.address(), {.refuseItems = !exportFails});
        QObject squatter;
        if (exportFails) {
            ASSERT_TRUE(session.app.registerObject(QStringLiteral("/StatusNotifierItem"), &squatter));
        }
        auto item = session.idleItem();
        ASSERT_EQ(item->tray(), Tray::statusNotifier);
        if (!exportFails) {
            // The first attempt and six retries, all refused.
            for (int attempt = 1; attempt < 7; ++attempt) {
                ASSERT_TRUE(runUntil([&] { return watcher.answered == attempt && session.queue.delayedCount() > 0; }))
                    << "attempt " << attempt << " not answered, or no retry waiting after it";
                EXPECT_EQ(item->tray(), Tray::statusNotifier) << attempt;
                session.queue.advance(10);
            }
        }
        ASSERT_TRUE(runUntil([&] { return item->tray() == Tray::xembed; }));
        EXPECT_EQ(session.lines("statusItem.trayChanged host=xembed"), 1u);
        EXPECT_TRUE(runUntil([&] { return tray.dockRequests() == docked + 1; }))
            << "the XEmbed icon never asked to dock";
        if (exportFails) session.app.unregisterObject(QStringLiteral("/StatusNotifierItem"));
    }
}

} // namespace brindleaf
