// The tray icon of this process moving between an XEmbed tray on the test's X
// server and a panel's watcher on a private session bus, as panels start
// beside it or refuse it.
#include "app/shell/TrayStatusItem.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/FakeXEmbedTray.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include "tests/app/x11/TrayRig.hpp"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace brindleaf {
namespace {

using testing::FakeStatusNotifierWatcher;
using testing::FakeXEmbedTray;
using testing::runUntil;
using Tray = TrayHostChoice::Tray;

// How long each wait runs the event loop for its condition at most.
constexpr std::chrono::seconds timeLimit{20};

using testing::xcbApplication;

// Waits until the X server has handled every request of this connection.
void sync(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// Every dock request this process has sent by now, once it arrived at the tray.
int dockRequestsSentByNow(FakeXEmbedTray& tray) {
    xcbApplication();
    QCoreApplication::processEvents();
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) sync(x11->connection());
    tray.sync();
    return tray.dockRequests();
}

// Runs the event loop until this process's application has handled every X
// event sent to it by now. A tray's announcement handled only once an icon is
// shown docks the icon once more, and every tray started on the display since
// the application was made (by an earlier test too) has announced itself.
void handleXEventsSentByNow() {
    xcbApplication();
    xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    // A message to a window of the application's own comes after them all.
    const xcb_window_t marker = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, marker,
                      xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    struct Filter : QAbstractNativeEventFilter {
        xcb_window_t window = 0;
        bool seen = false;
        bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
            const auto* event = static_cast<const xcb_generic_event_t*>(message);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                reinterpret_cast<const xcb_client_message_event_t*>(event)->window == window)
                seen = true;
            return false;
        }
    } filter;
    filter.window = marker;
    qApp->installNativeEventFilter(&filter);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = marker;
    message.type = XCB_ATOM_STRING;
    xcb_send_event(connection, 0, marker, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
    const bool handled = runUntil([&] { return filter.seen; }, timeLimit);
    qApp->removeNativeEventFilter(&filter);
    xcb_destroy_window(connection, marker);
    xcb_flush(connection);
    ASSERT_TRUE(handled) << "the application never received a message sent to its own window";
}

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
        handleXEventsSentByNow();
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
    tray.start();
    Session session;
    ASSERT_TRUE(session.daemon.isReady());
    auto item = session.idleItem();
    ASSERT_EQ(item->tray(), Tray::xembed);
    ASSERT_TRUE(runUntil([&] { return tray.dockRequests() == 1; }, timeLimit)) << "the XEmbed icon never asked to dock";

    QElapsedTimer started;
    started.start();
    FakeStatusNotifierWatcher watcher(session.address(), {.hostRegistered = false});
    ASSERT_TRUE(runUntil([&] { return watcher.hostQueries > 0 && started.elapsed() >= 50; }, timeLimit))
        << "nobody asked the watcher whether it has a host";
    watcher.registerHost();
    ASSERT_TRUE(runUntil([&] { return item->tray() == Tray::statusNotifier && !watcher.items.isEmpty(); }, timeLimit))
        << "tray " << TrayHostChoice::name(item->tray()) << ", no item registered";
    EXPECT_EQ(watcher.items.size(), 1);
    EXPECT_EQ(session.lines("statusItem.trayChanged "), 1u);
    EXPECT_EQ(session.lines("statusItem.trayChanged host=statusNotifier"), 1u);
    EXPECT_EQ(dockRequestsSentByNow(tray), 1);
}

// Beside an XEmbed tray and a watcher with a host, the icon goes to the
// watcher; when the watcher refuses it however often it is asked, or the item
// cannot go on the bus, the icon docks in the XEmbed tray.
TEST(TrayHostSwitchTests, ARefusedItemGivesWayToAnXEmbedTray) {
    FakeXEmbedTray tray;
    tray.start();
    for (const bool exportFails : {false, true}) {
        SCOPED_TRACE(exportFails ? "the item cannot go on the bus" : "the watcher refuses the item");
        const int docked = dockRequestsSentByNow(tray);
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
                ASSERT_TRUE(runUntil([&] { return watcher.answered == attempt && session.queue.delayedCount() > 0; },
                                     timeLimit))
                    << "attempt " << attempt << " not answered, or no retry waiting after it";
                EXPECT_EQ(item->tray(), Tray::statusNotifier) << attempt;
                session.queue.advance(10);
            }
        }
        ASSERT_TRUE(runUntil([&] { return item->tray() == Tray::xembed; }, timeLimit));
        EXPECT_EQ(session.lines("statusItem.trayChanged host=xembed"), 1u);
        EXPECT_TRUE(runUntil([&] { return tray.dockRequests() == docked + 1; }, timeLimit))
            << "the XEmbed icon never asked to dock";
        if (exportFails) session.app.unregisterObject(QStringLiteral("/StatusNotifierItem"));
    }
}

} // namespace brindleaf
