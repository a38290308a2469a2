// Our StatusNotifierItem and the tray icon on a private session bus, read back
// over the bus as a host reads them.
#include "app/shell/StatusNotifierItem.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/PlatformStyle.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include <unistd.h>

namespace brindleaf {

// A stand-in for a panel's watcher: keeps the items that register.
class FakeStatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    explicit FakeStatusNotifierWatcher(const QString& address)
        : connection_(QDBusConnection::connectToBus(address, QStringLiteral("watcher-%1").arg(++count_))) {
        connection_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        connection_.registerService(StatusNotifierItem::watcherService);
    }
    ~FakeStatusNotifierWatcher() override {
        connection_.unregisterService(StatusNotifierItem::watcherService);
        QDBusConnection::disconnectFromBus(connection_.name());
    }
    bool hostRegistered() const { return true; }
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items.push_back(service); }

private:
    static inline int count_ = 0;
    QDBusConnection connection_;
};

namespace {

using testing::snapshotOf;

// A private bus, this process's connection to it and a host's connection.
struct Bus {
    testing::PrivateSessionBus daemon;
    QDBusConnection app;
    QDBusConnection host;
    static inline int count = 0;
    Bus()
        : app(QDBusConnection::connectToBus(QString::fromStdString(daemon.address()),
                                            QStringLiteral("app-%1").arg(++count))),
          host(QDBusConnection::connectToBus(QString::fromStdString(daemon.address()),
                                             QStringLiteral("host-%1").arg(count))) {
        testing::shellApplication();
        registerStatusNotifierTypes();
    }
    ~Bus() {
        QDBusConnection::disconnectFromBus(app.name());
        QDBusConnection::disconnectFromBus(host.name());
    }
    QString address() const { return QString::fromStdString(daemon.address()); }

    // A property of the item as a host reads it; invalid when the read fails.
    QVariant property(const QString& service, const QString& name) const {
        auto call =
            QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QStringLiteral("org.kde.StatusNotifierItem") << name;
        const QDBusMessage reply = wait(call);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().front().value<QDBusVariant>().variant();
    }
    StatusNotifierPixmaps pixmaps(const QString& service) const {
        const QVariant value = property(service, QStringLiteral("IconPixmap"));
        return qdbus_cast<StatusNotifierPixmaps>(value.value<QDBusArgument>());
    }
    bool call(const QString& service, const QString& method, const QVariantList& arguments) const {
        auto message = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.kde.StatusNotifierItem"), method);
        message.setArguments(arguments);
        return wait(message).type() == QDBusMessage::ReplyMessage;
    }
    // The item answers on this thread: wait for the reply turning the event loop.
    QDBusMessage wait(const QDBusMessage& message) const {
        QDBusPendingCall pending = host.asyncCall(message);
        testing::runUntil([&] { return pending.isFinished(); });
        return pending.reply();
    }
};

StatusIconImageRef solidImage(QColor colour, bool isTemplate = false) {
    auto image = std::make_shared<StatusIconImage>();
    image->pointSize = QSize(3, 2);
    image->at1x = QImage(3, 2, QImage::Format_ARGB32_Premultiplied);
    image->at1x.fill(colour);
    image->at2x = QImage(6, 4, QImage::Format_ARGB32_Premultiplied);
    image->at2x.fill(colour);
    image->at2x.setDevicePixelRatio(2);
    image->isTemplate = isTemplate;
    return image;
}

// The mean grey of the visible pixels (alpha above 100); -1 without any.
int meanInk(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    long sum = 0, count = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 100) {
                sum += qGray(argb.pixel(x, y));
                ++count;
            }
    return count ? static_cast<int>(sum / count) : -1;
}

// The sizes of the pixmaps a host reads from the tray icon's item through
// the running loop, reduced motion, waiting and idle ("23x16 46x32" for an
// image sent at both sizes), as one line that starts with the application's
// scale.
std::string pixmapSizesAHostReads() {
    Bus bus;
    std::string seen = "scale " + QString::number(qApp->devicePixelRatio()).toStdString();
    FakeStatusNotifierWatcher watcher(bus.address());
    ManualMainQueue queue;
    TrayStatusItem item(queue, bus.app, false);
    if (item.tray() != TrayHostChoice::Tray::statusNotifier) return seen + "; the item is not on the watcher's bus";
    if (!testing::runUntil([&] { return watcher.items.size() == 1; })) return seen + "; the item never registered";
    const QString service = watcher.items.front();
    const auto sizes = [&] {
        QStringList text;
        for (const auto& pixmap : bus.pixmaps(service))
            text << QStringLiteral("%1x%2").arg(pixmap.width).arg(pixmap.height);
        return text.join(QLatin1Char(' ')).toStdString();
    };
    item.reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
    item.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    QStringList frames;
    for (std::size_t frame = 0; frame < item.animator().frames().size(); ++frame) {
        if (frame > 0) queue.advance(item.animator().frameInterval());
        frames << QString::fromStdString(sizes());
    }
    seen += "; running frames: " + frames.join(QStringLiteral(", ")).toStdString();
    // Reduced motion shows the first frame as a still image from the next render.
    item.setReduceMotion(true);
    item.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    seen += "; first running frame: " + sizes();
    item.render(snapshotOf(AgentRunState::complete, 0, 1));
    seen += "; waiting: " + sizes();
    item.render(snapshotOf(AgentRunState::complete, 0, 0));
    seen += "; idle: " + sizes();
    return seen;
}

} // namespace

TEST(StatusNotifierItemTests, RegistersWithEachWatcherThatTakesTheName) {
    Bus bus;
    ASSERT_TRUE(bus.daemon.isReady());
    StatusNotifierItem item(bus.app, {});
    ASSERT_TRUE(item.isExported());
    EXPECT_TRUE(item.serviceName().startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
    for (int round = 0; round < 2; ++round) {
        // The panel starts after the item, or restarts.
        FakeStatusNotifierWatcher watcher(bus.address());
        EXPECT_TRUE(testing::runUntil([&] { return watcher.items == QStringList{item.serviceName()}; })) << round;
    }
}

TEST(StatusNotifierItemTests, HostsReadTheProductNameAndNoMenu) {
    Bus bus;
    StatusNotifierItem item(bus.app, {});
    const QString service = item.serviceName();
    EXPECT_EQ(bus.property(service, QStringLiteral("Id")).toString(), QStringLiteral("Brindleaf"));
    EXPECT_EQ(bus.property(service, QStringLiteral("Title")).toString(), QStringLiteral("Brindleaf"));
    EXPECT_EQ(bus.property(service, QStringLiteral("ItemIsMenu")).toBool(), false);
    EXPECT_EQ(bus.property(service, QStringLiteral("IconThemePath")).toString(), QString());
    // No menu: hosts send a right click as ContextMenu.
    EXPECT_FALSE(bus.property(service, QStringLiteral("Menu")).isValid());
    item.setToolTip(QStringLiteral("Brindleaf: Idle — No agents are running."));
    const auto toolTip =
        qdbus_cast<StatusNotifierToolTip>(bus.property(service, QStringLiteral("ToolTip")).value<QDBusArgument>());
    EXPECT_EQ(toolTip.title, QStringLiteral("Brindleaf: Idle — No agents are running."));
}

TEST(StatusNotifierItemTests, StillImagesGoAtBothSizesAndFramesAt1x) {
    Bus bus;
    const QColor orange(255, 128, 0, 255);
    struct Case {
        bool frame;
        std::vector<QSize> sizes;
    } cases[] = {
        {false, {QSize(3, 2), QSize(6, 4)}},
        {true, {QSize(3, 2)}},
    };
    for (const auto& c : cases) {
        StatusNotifierItem item(bus.app, {});
        const auto image = solidImage(orange);
        c.frame ? item.showFrame(image) : item.showIcon(image);
        const auto pixmaps = bus.pixmaps(item.serviceName());
        ASSERT_EQ(pixmaps.size(), static_cast<qsizetype>(c.sizes.size())) << "frame: " << c.frame;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            EXPECT_EQ(QSize(pixmaps[i].width, pixmaps[i].height), c.sizes[i]);
            // ARGB32 in network byte order: alpha, red, green, blue.
            EXPECT_EQ(pixmaps[i].pixels.left(4), QByteArray::fromHex("ffff8000"));
            EXPECT_EQ(pixmaps[i].toImage().pixel(0, 0), orange.rgba());
        }
    }
}

// A HiDPI screen needs the whole application at scale 2 from its start, so
// this runs in a process of its own (the rest of the binary runs at 1x). A
// host there is sent the running loop at 1x, as on any screen, and every
// still image at both sizes.
TEST(TrayStatusItemAtScale2DeathTest, RunningFramesGoAt1xAndStillImagesAtBothSizes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("QT_SCALE_FACTOR", "2");
            const std::string seen = pixmapSizesAHostReads();
            std::fprintf(stderr, "%s\n", seen.c_str());
            std::fflush(stderr);
            _exit(0);
        },
        ::testing::ExitedWithCode(0),
        "scale 2; running frames: 23x16, 23x16, 23x16, 23x16; first running frame: 23x16 46x32; "
        "waiting: 23x16 46x32; idle: 23x16 46x32");
}

TEST(StatusNotifierItemTests, EveryClickReachesTheHandlerWithTheHostsPosition) {
    Bus bus;
    std::vector<std::optional<QPoint>> clicks;
    StatusNotifierItem item(bus.app, [&](std::optional<QPoint> position) { clicks.push_back(position); });
    const QString service = item.serviceName();
    EXPECT_TRUE(bus.call(service, QStringLiteral("Activate"), {10, 20}));
    EXPECT_TRUE(bus.call(service, QStringLiteral("SecondaryActivate"), {11, 21}));
    EXPECT_TRUE(bus.call(service, QStringLiteral("ContextMenu"), {12, 22}));
    EXPECT_TRUE(bus.call(service, QStringLiteral("Scroll"), {120, QStringLiteral("vertical")}));
    ASSERT_TRUE(testing::runUntil([&] { return clicks.size() >= 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, (std::vector<std::optional<QPoint>>{QPoint(10, 20), QPoint(11, 21), QPoint(12, 22)}));
}

// Idle, waiting and the first running frame (reduced motion), as each tray
// shows them under a dark palette: light, as the running frames are.
TEST(TrayStatusItemTests, EveryTemplateImageIsLightOnADarkPanelOnBothTrays) {
    Bus bus;
    FakeStatusNotifierWatcher watcher(bus.address());
    ManualMainQueue queue;
    const QPalette before = QApplication::palette();
    QApplication::setPalette(PlatformStyle::darkPalette());
    for (bool overBus : {false, true}) {
        TrayStatusItem item(queue, overBus ? std::optional(bus.app) : std::nullopt, false);
        ASSERT_EQ(item.tray(), overBus ? TrayHostChoice::Tray::statusNotifier : TrayHostChoice::Tray::xembed);
        item.reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
        item.setReduceMotion(true);
        const auto shown = [&]() -> QImage {
            if (!overBus) {
                const QIcon icon = item.trayIcon()->icon();
                return icon.pixmap(icon.availableSizes().value(0)).toImage();
            }
            const auto service = QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(::getpid());
            for (const auto& name : bus.app.interface()->registeredServiceNames().value())
                if (name.startsWith(service)) return bus.pixmaps(name).value(0).toImage();
            return {};
        };
        const struct {
            AgentRunState state;
            int running, waiting;
            const char* image;
        } cases[] = {
            {AgentRunState::complete, 0, 0, "idle"},
            {AgentRunState::complete, 0, 1, "waiting"},
            {AgentRunState::inProgress, 1, 0, "first running frame"},
        };
        for (const auto& c : cases) {
            item.render(snapshotOf(c.state, c.running, c.waiting));
            const QImage image = shown();
            ASSERT_FALSE(image.isNull()) << c.image << " over the bus: " << overBus;
            EXPECT_GT(meanInk(image), 200) << c.image << " over the bus: " << overBus;
        }
    }
    QApplication::setPalette(before);
}

TEST(TrayStatusItemTests, MovesToAWatcherThatAppearsAndPlaysFewerFramesThere) {
    Bus bus;
    ManualMainQueue queue;
    TrayStatusItem item(queue, bus.app, false);
    item.reloadIcons(StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
    item.render(snapshotOf(AgentRunState::inProgress, 1, 0));
    EXPECT_EQ(item.tray(), TrayHostChoice::Tray::xembed);
    EXPECT_EQ(item.animator().frames().size(), 16u);

    auto watcher = std::make_unique<FakeStatusNotifierWatcher>(bus.address());
    ASSERT_TRUE(testing::runUntil([&] { return item.tray() == TrayHostChoice::Tray::statusNotifier; }));
    EXPECT_EQ(item.trayIcon(), nullptr);
    // The running loop goes on over the bus at 2.5 frames a second: four
    // frames of the same 1.6 s loop, each at 1x only.
    ASSERT_TRUE(testing::runUntil([&] { return watcher->items.size() == 1; }));
    EXPECT_EQ(item.animator().frames().size(), 4u);
    EXPECT_DOUBLE_EQ(item.animator().frameInterval(), 0.4);
    const auto pixmaps = bus.pixmaps(watcher->items.front());
    ASSERT_EQ(pixmaps.size(), 1);
    EXPECT_EQ(QSize(pixmaps[0].width, pixmaps[0].height), QSize(23, 16));

    // The panel goes; with no other tray the item stays for its return.
    watcher.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(item.tray(), TrayHostChoice::Tray::statusNotifier);
}

} // namespace brindleaf

#include "StatusNotifierItemTests.moc"
