// Our StatusNotifierItem and the tray icon on a private session bus, read back
// over the bus as a host reads them.
#include "app/shell/StatusNotifierItem.hpp"
#include "app/shell/StatusNotifierItemAdaptor.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "presentation/PlatformStyle.hpp"
#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QRegularExpression>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <unistd.h>

namespace brindleaf {

namespace {

using testing::FakeStatusNotifierWatcher;
using testing::snapshotOf;

// A private bus, this process's connection to it and a host's connection.
struct Bus {
    // Where the item's retries wait.
    ManualMainQueue queue;
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
    // A round trip from the item's connection to `peer` (a watcher's own name,
    // or the bus's): every call the item sent it before has reached it, and
    // every answer it sent the item before has been handled. False when the
    // peer did not answer.
    bool roundTrip(const QString& peer) const {
        const auto ping = QDBusMessage::createMethodCall(
            peer, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        QDBusPendingCall pending = app.asyncCall(ping);
        if (!testing::runUntil([&] { return pending.isFinished(); })) return false;
        // The answers before the ping's are queued to this thread ahead of it.
        QCoreApplication::processEvents();
        return !pending.isError();
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
// the running loop, reduced motion, waiting and idle ("28x19 56x38" for an
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
    StatusNotifierItem item(bus.queue, bus.app, {});
    ASSERT_TRUE(item.isExported());
    EXPECT_TRUE(item.serviceName().startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
    for (int round = 0; round < 2; ++round) {
        // The panel starts after the item, or restarts.
        FakeStatusNotifierWatcher watcher(bus.address());
        EXPECT_TRUE(testing::runUntil([&] { return watcher.items == QStringList{item.serviceName()}; })) << round;
    }
}

// The log lines of one test.
struct CapturedLog {
    std::shared_ptr<MemoryLogSink> sink = std::make_shared<MemoryLogSink>();
    CapturedLog() { Logger::setSink(sink); }
    ~CapturedLog() { Logger::setSink(nullptr); }
    bool has(const std::string& line) const { return !lines(line).empty(); }
    // The lines that hold `part`, in order.
    std::vector<std::string> lines(const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& message : sink->messages())
            if (message.find(part) != std::string::npos) found.push_back(message);
        return found;
    }
    std::string lastFailure() const {
        const auto failures = lines("registerFailed");
        return failures.empty() ? "no failed registration" : failures.back();
    }
};

// Lets the back-off run out against a watcher that refuses the item: the
// attempt already made and every retry are refused, the seventh without a
// retry after it.
::testing::AssertionResult refusedUntilGivenUp(Bus& bus, const CapturedLog& log) {
    const std::size_t before = log.lines("registerFailed").size();
    for (int attempt = 1; attempt <= 7; ++attempt) {
        if (!testing::runUntil([&] { return log.lines("registerFailed").size() >= before + attempt; }))
            return ::testing::AssertionFailure() << "attempt " << attempt << " was not refused";
        const bool last = attempt == 7;
        const std::string expected = " attempt=" + std::to_string(attempt) + (last ? " retry=none" : " retryIn=");
        if (log.lastFailure().find(expected) == std::string::npos)
            return ::testing::AssertionFailure() << "attempt " << attempt << ": " << log.lastFailure();
        if (last) break;
        if (bus.queue.delayedCount() != 1)
            return ::testing::AssertionFailure() << "no retry waits after attempt " << attempt;
        bus.queue.advance(10);
    }
    return ::testing::AssertionSuccess();
}

// A panel's watcher that takes its name before its object is there (callers
// get UnknownObject) and then answers slowly: the item tries again, a quarter
// of a second later, then after twice each wait, until the watcher takes it.
TEST(StatusNotifierItemTests, TriesAgainUntilAWatcherThatTookItsNameFirstTakesTheItem) {
    Bus bus;
    CapturedLog log;
    FakeStatusNotifierWatcher watcher(bus.address(), {.nameFirst = true, .answerDelayMs = 100});
    StatusNotifierItem item(bus.queue, bus.app, {});
    ASSERT_TRUE(item.isExported());
    for (const auto& [attempt, wait] : {std::pair{1, "0.25"}, {2, "0.50"}, {3, "1.00"}}) {
        const std::string failed =
            "registerFailed error=org.freedesktop.DBus.Error.UnknownObject attempt=" + std::to_string(attempt);
        ASSERT_TRUE(testing::runUntil([&] { return log.has(failed + " retryIn=" + wait); }))
            << "no failed attempt " << attempt << " waiting " << wait << " s";
        ASSERT_EQ(bus.queue.delayedCount(), 1u) << attempt;
        // Not before its time.
        bus.queue.advance(std::stod(wait) / 2);
        QCoreApplication::processEvents();
        EXPECT_EQ(bus.queue.delayedCount(), 1u) << attempt;
        bus.queue.advance(std::stod(wait) / 2);
        EXPECT_EQ(bus.queue.delayedCount(), 0u) << attempt;
    }
    ASSERT_TRUE(testing::runUntil([&] { return log.has("attempt=4 retryIn=2.00"); }));
    watcher.exportObject();
    bus.queue.advance(2);
    EXPECT_TRUE(testing::runUntil([&] { return item.isRegistered(); }));
    EXPECT_EQ(watcher.items, QStringList{item.serviceName()});
}

// A watcher that refuses the item: the first attempt and six more over ten
// seconds, then the item says so. A new watcher taking the name, or the
// watcher announcing a host, starts the back-off over: refused once more, the
// item is asked again a quarter of a second later and taken.
TEST(StatusNotifierItemTests, GivesUpAfterTenSecondsAndStartsOverWhenAWatcherComesOrAnnouncesAHost) {
    for (const bool newWatcher : {true, false}) {
        SCOPED_TRACE(newWatcher ? "a new watcher takes the name" : "the watcher announces a host");
        Bus bus;
        CapturedLog log;
        auto watcher = std::make_unique<FakeStatusNotifierWatcher>(
            bus.address(), FakeStatusNotifierWatcher::Options{.refuseItems = true, .hostRegistered = false});
        StatusNotifierItem item(bus.queue, bus.app, {});
        int refusals = 0;
        QObject::connect(&item, &StatusNotifierItem::refused, [&] { ++refusals; });
        ASSERT_TRUE(refusedUntilGivenUp(bus, log));
        EXPECT_EQ(watcher->answered, 7);
        EXPECT_TRUE(log.has("registerFailed error=org.freedesktop.DBus.Error.Failed attempt=7 retry=none"));
        EXPECT_EQ(refusals, 1);
        EXPECT_EQ(bus.queue.delayedCount(), 0u);
        EXPECT_FALSE(item.isRegistered());

        if (newWatcher) {
            watcher.reset();
            watcher = std::make_unique<FakeStatusNotifierWatcher>(bus.address(),
                                                                  FakeStatusNotifierWatcher::Options{.refuseNext = 1});
        } else {
            watcher->options.refuseItems = false;
            watcher->options.refuseNext = 1;
            watcher->registerHost();
        }
        ASSERT_TRUE(testing::runUntil([&] { return log.lines("registerFailed").size() == 8; }))
            << "the refusal after the restart was not logged";
        ASSERT_NE(log.lastFailure().find(" attempt=1 retryIn=0.25"), std::string::npos) << log.lastFailure();
        bus.queue.advance(0.25);
        EXPECT_TRUE(testing::runUntil([&] { return item.isRegistered(); }));
        EXPECT_EQ(watcher->items, QStringList{item.serviceName()});
        EXPECT_EQ(refusals, 1);
    }
}

// One registration for each watcher that takes the name. A host the watcher
// announces later asks once more only when the watcher no longer lists the
// item it took; announced while the call is unanswered or a retry waits (the
// watcher took its name before its object was there), it asks nothing: the
// answer or the retry decides.
TEST(StatusNotifierItemTests, AHostAnnouncedLaterAsksAgainOnlyWhenTheWatcherNoLongerListsTheItem) {
    enum class Before { taken, forgotten, unanswered, retryWaits };
    const struct {
        Before before;
        const char* name;
        int callsAfterTheHost;
    } cases[] = {
        {Before::taken, "the watcher took and lists the item", 1},
        {Before::forgotten, "the watcher took the item and forgot it", 2},
        {Before::unanswered, "the watcher has not answered the call", 1},
        // The call before the object was there never reached it.
        {Before::retryWaits, "a retry waits after an UnknownObject", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus bus;
        CapturedLog log;
        FakeStatusNotifierWatcher watcher(bus.address(), {.nameFirst = c.before == Before::retryWaits,
                                                          .hostRegistered = false,
                                                          .holdAnswers = c.before == Before::unanswered});
        StatusNotifierItem item(bus.queue, bus.app, {});
        if (c.before == Before::taken || c.before == Before::forgotten) {
            ASSERT_TRUE(testing::runUntil([&] { return item.isRegistered(); })) << "the watcher never took the item";
            if (c.before == Before::forgotten) watcher.items.clear();
        } else if (c.before == Before::unanswered) {
            ASSERT_TRUE(testing::runUntil([&] { return watcher.calls == 1; })) << "the watcher was never asked";
        } else {
            ASSERT_TRUE(testing::runUntil([&] { return log.has("UnknownObject attempt=1 retryIn=0.25"); }))
                << log.lastFailure();
            watcher.exportObject();
            // The host comes just before the retry, which then waits from the host's start.
            bus.queue.advance(0.2);
        }
        watcher.registerHost();
        if (c.before == Before::taken || c.before == Before::forgotten) {
            EXPECT_TRUE(testing::runUntil([&] { return watcher.itemQueries > 0; }))
                << "the item never asked whether the watcher lists it";
        }
        // The announcement (or the list) has reached the item, and what it sent then the watcher.
        ASSERT_TRUE(bus.roundTrip(watcher.uniqueName()) && bus.roundTrip(watcher.uniqueName()))
            << "the watcher's connection did not answer";
        EXPECT_EQ(watcher.calls, c.callsAfterTheHost);
        EXPECT_EQ(log.lines("statusItem.statusNotifier.notListed").size(), c.before == Before::forgotten ? 1u : 0u);

        // The answer comes, or the retry.
        if (c.before == Before::unanswered) watcher.answerHeld();
        if (c.before == Before::retryWaits) {
            bus.queue.advance(0.1);
            ASSERT_TRUE(bus.roundTrip(watcher.uniqueName())) << "the watcher's connection did not answer";
            EXPECT_EQ(watcher.calls, 0) << "the retry did not wait from the host's start";
            bus.queue.advance(0.15);
        }
        EXPECT_TRUE(
            testing::runUntil([&] { return item.isRegistered() && watcher.items == QStringList{item.serviceName()}; }));
        ASSERT_TRUE(bus.roundTrip(watcher.uniqueName())) << "the watcher's connection did not answer";
        EXPECT_EQ(watcher.calls, c.callsAfterTheHost + (c.before == Before::retryWaits ? 1 : 0));
    }
}

// The watcher no longer lists the item it took, announces a host and refuses
// the item from then on: the item is not on that panel, so once the back-off
// has run out it says so. The same when a watcher that took it is replaced
// by one that refuses it.
TEST(StatusNotifierItemTests, AnItemTheWatcherNoLongerHoldsIsRefusedWhenTheBackOffRunsOut) {
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "a refusing watcher replaces the one that took it" : "the watcher forgot the item");
        Bus bus;
        CapturedLog log;
        auto watcher = std::make_unique<FakeStatusNotifierWatcher>(
            bus.address(), FakeStatusNotifierWatcher::Options{.hostRegistered = false});
        StatusNotifierItem item(bus.queue, bus.app, {});
        int refusals = 0;
        QObject::connect(&item, &StatusNotifierItem::refused, [&] { ++refusals; });
        ASSERT_TRUE(testing::runUntil([&] { return item.isRegistered(); })) << "the watcher never took the item";
        if (replaced) {
            watcher->releaseName();
            watcher = std::make_unique<FakeStatusNotifierWatcher>(
                bus.address(), FakeStatusNotifierWatcher::Options{.refuseItems = true});
        } else {
            watcher->items.clear();
            watcher->options.refuseItems = true;
            watcher->registerHost();
        }
        ASSERT_TRUE(refusedUntilGivenUp(bus, log));
        EXPECT_EQ(refusals, 1);
        EXPECT_FALSE(item.isRegistered());
    }
}

// A watcher gives its name up while it still holds the item's call, and
// another takes the name. The old watcher's late refusal answers an attempt
// the new watcher overtook: it counts as no failure and brings no retry.
TEST(StatusNotifierItemTests, ALateRefusalFromTheWatcherBeforeCountsForNothing) {
    Bus bus;
    CapturedLog log;
    FakeStatusNotifierWatcher before(bus.address(), {.refuseItems = true, .holdAnswers = true});
    StatusNotifierItem item(bus.queue, bus.app, {});
    ASSERT_TRUE(testing::runUntil([&] { return before.calls == 1; })) << "the first watcher was never asked";
    before.releaseName();
    FakeStatusNotifierWatcher after(bus.address(), {.refuseNext = 1, .holdAnswers = true});
    ASSERT_TRUE(testing::runUntil([&] { return after.calls == 1; }))
        << "the watcher that took the name was never asked";
    before.answerHeld();
    ASSERT_TRUE(bus.roundTrip(before.uniqueName())) << "the first watcher's connection did not answer";
    EXPECT_EQ(log.lines("registerFailed").size(), 0u) << log.lastFailure();
    EXPECT_EQ(bus.queue.delayedCount(), 0u);

    // The new watcher's own refusal is the first failure.
    after.answerHeld();
    ASSERT_TRUE(testing::runUntil([&] { return log.has("registerFailed"); }))
        << "the new watcher's refusal was not logged";
    ASSERT_NE(log.lastFailure().find(" attempt=1 retryIn=0.25"), std::string::npos) << log.lastFailure();
    EXPECT_EQ(bus.queue.delayedCount(), 1u);
    bus.queue.advance(0.25);
    ASSERT_TRUE(testing::runUntil([&] { return after.calls == 2; })) << "no retry after the new watcher's refusal";
    after.answerHeld();
    EXPECT_TRUE(testing::runUntil([&] { return item.isRegistered(); }));
    EXPECT_EQ(after.items, QStringList{item.serviceName()});
}

// The same, but the watcher before takes the item late while the new one
// refuses it: the item is not on the new watcher's panel, so once the back-off
// has run out it says it was refused (the icon may go to an XEmbed tray).
TEST(StatusNotifierItemTests, ALateAcceptanceFromTheWatcherBeforeIsNoRegistration) {
    Bus bus;
    CapturedLog log;
    FakeStatusNotifierWatcher before(bus.address(), {.holdAnswers = true});
    StatusNotifierItem item(bus.queue, bus.app, {});
    int registrations = 0, refusals = 0;
    QObject::connect(&item, &StatusNotifierItem::registered, [&] { ++registrations; });
    QObject::connect(&item, &StatusNotifierItem::refused, [&] { ++refusals; });
    ASSERT_TRUE(testing::runUntil([&] { return before.calls == 1; })) << "the first watcher was never asked";
    before.releaseName();
    FakeStatusNotifierWatcher after(bus.address(), {.refuseItems = true, .holdAnswers = true});
    ASSERT_TRUE(testing::runUntil([&] { return after.calls == 1; }))
        << "the watcher that took the name was never asked";
    before.answerHeld();
    ASSERT_TRUE(bus.roundTrip(before.uniqueName())) << "the first watcher's connection did not answer";
    EXPECT_FALSE(item.isRegistered());
    EXPECT_EQ(registrations, 0);

    after.options.holdAnswers = false;
    after.answerHeld();
    ASSERT_TRUE(refusedUntilGivenUp(bus, log));
    EXPECT_EQ(refusals, 1);
    EXPECT_FALSE(item.isRegistered());
}

// The watcher announces a host while it still holds the item's call: the item
// asks nothing more. The call is refused: one failure, one retry.
TEST(StatusNotifierItemTests, AHostAnnouncedWhileTheCallIsUnansweredLeavesTheRefusalToDecide) {
    Bus bus;
    CapturedLog log;
    FakeStatusNotifierWatcher watcher(bus.address(),
                                      {.refuseItems = true, .hostRegistered = false, .holdAnswers = true});
    StatusNotifierItem item(bus.queue, bus.app, {});
    ASSERT_TRUE(testing::runUntil([&] { return watcher.calls == 1; })) << "the watcher was never asked";
    watcher.registerHost();
    ASSERT_TRUE(bus.roundTrip(watcher.uniqueName()) && bus.roundTrip(watcher.uniqueName()))
        << "the watcher's connection did not answer";
    EXPECT_EQ(watcher.calls, 1);
    watcher.answerHeld();
    ASSERT_TRUE(bus.roundTrip(watcher.uniqueName())) << "the watcher's connection did not answer";
    ASSERT_EQ(log.lines("registerFailed").size(), 1u) << log.lastFailure();
    EXPECT_NE(log.lastFailure().find(" attempt=1 retryIn=0.25"), std::string::npos) << log.lastFailure();
    EXPECT_EQ(bus.queue.delayedCount(), 1u);
}

// A retry waits when the watcher leaves and another takes the name: the new
// watcher is asked at once, and only once: the retry was for the one before.
TEST(StatusNotifierItemTests, ARetryForTheWatcherBeforeAsksTheNextOneNothing) {
    Bus bus;
    CapturedLog log;
    auto before = std::make_unique<FakeStatusNotifierWatcher>(bus.address(),
                                                              FakeStatusNotifierWatcher::Options{.refuseItems = true});
    StatusNotifierItem item(bus.queue, bus.app, {});
    ASSERT_TRUE(testing::runUntil([&] { return log.has(" attempt=1 retryIn=0.25"); })) << log.lastFailure();
    before.reset();
    FakeStatusNotifierWatcher after(bus.address());
    ASSERT_TRUE(testing::runUntil([&] { return item.isRegistered(); })) << "the new watcher never took the item";
    ASSERT_EQ(bus.queue.delayedCount(), 1u) << "no retry waiting from the watcher before";
    bus.queue.advance(10);
    ASSERT_TRUE(bus.roundTrip(after.uniqueName())) << "the new watcher's connection did not answer";
    EXPECT_EQ(after.calls, 1);
    EXPECT_EQ(after.answered, 1);
    EXPECT_EQ(after.items, QStringList{item.serviceName()});
}

// No watcher on the bus: the call finds no one (ServiceUnknown), which is no
// failure. Nothing is logged or tried again, ten seconds on the item has not
// said it was refused, and a watcher that comes then takes it.
TEST(StatusNotifierItemTests, NoWatcherOnTheBusIsNoFailure) {
    Bus bus;
    CapturedLog log;
    StatusNotifierItem item(bus.queue, bus.app, {});
    int refusals = 0;
    QObject::connect(&item, &StatusNotifierItem::refused, [&] { ++refusals; });
    ASSERT_TRUE(bus.roundTrip(QStringLiteral("org.freedesktop.DBus"))) << "the bus did not answer";
    EXPECT_EQ(log.lines("registerFailed").size(), 0u) << log.lastFailure();
    EXPECT_EQ(bus.queue.delayedCount() + bus.queue.pendingCount(), 0u);
    bus.queue.advance(10);
    ASSERT_TRUE(bus.roundTrip(QStringLiteral("org.freedesktop.DBus"))) << "the bus did not answer";
    EXPECT_EQ(log.lines("registerFailed").size(), 0u) << log.lastFailure();
    EXPECT_EQ(bus.queue.delayedCount() + bus.queue.pendingCount(), 0u);
    EXPECT_EQ(refusals, 0);

    FakeStatusNotifierWatcher watcher(bus.address());
    EXPECT_TRUE(testing::runUntil([&] { return item.isRegistered(); }));
    EXPECT_EQ(refusals, 0);
}

// An object already at the item's path: nothing goes on the bus, not even the name.
TEST(StatusNotifierItemTests, GivesTheNameBackWhenTheObjectCannotGoOnTheBus) {
    Bus bus;
    QObject squatter;
    ASSERT_TRUE(bus.app.registerObject(QStringLiteral("/StatusNotifierItem"), &squatter));
    StatusNotifierItem item(bus.queue, bus.app, {});
    EXPECT_FALSE(item.isExported());
    EXPECT_FALSE(bus.host.interface()->isServiceRegistered(item.serviceName()).value());
    bus.app.unregisterObject(QStringLiteral("/StatusNotifierItem"));
}

// Qt's own D-Bus tray icons take "org.kde.StatusNotifierItem-<pid>-<n>" from 1
// up; ours has a name of its own beside them, under the prefix hosts know.
TEST(StatusNotifierItemTests, BusNameIsOurOwnBesideQtsTrayIcons) {
    Bus bus;
    for (int n = 1; n <= 32; ++n)
        ASSERT_TRUE(
            bus.host.registerService(QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(::getpid()).arg(n)));
    StatusNotifierItem item(bus.queue, bus.app, {});
    EXPECT_TRUE(item.isExported());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-brindleaf-[0-9]+$").arg(::getpid()))
            .match(item.serviceName())
            .hasMatch())
        << item.serviceName().toStdString();
}

TEST(StatusNotifierItemTests, HostsReadTheProductNameAndNoMenu) {
    Bus bus;
    StatusNotifierItem item(bus.queue, bus.app, {});
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

// A host is told of a new icon or tooltip only once it has read the item:
// gtk-sni-tray adds an item twice when its NewIcon comes while the host is
// still adding it. After a restarted watcher, the item is read again first.
TEST(StatusNotifierItemTests, ChangesAreSignalledOnlyToAHostThatHasReadTheItem) {
    Bus bus;
    FakeStatusNotifierWatcher watcher(bus.address());
    StatusNotifierItem item(bus.queue, bus.app, {});
    const QString service = item.serviceName();
    ASSERT_TRUE(testing::runUntil([&] { return item.isRegistered(); })) << "the watcher never took the item";
    auto* adaptor = item.findChild<StatusNotifierItemAdaptor*>();
    ASSERT_NE(adaptor, nullptr);
    int icons = 0, toolTips = 0;
    QObject::connect(adaptor, &StatusNotifierItemAdaptor::NewIcon, [&] { ++icons; });
    QObject::connect(adaptor, &StatusNotifierItemAdaptor::NewToolTip, [&] { ++toolTips; });
    const auto signalled = [&] { return std::to_string(icons) + " icons, " + std::to_string(toolTips) + " tooltips"; };

    item.showIcon(solidImage(Qt::red));
    item.setToolTip(QStringLiteral("one"));
    EXPECT_EQ(signalled(), "0 icons, 0 tooltips") << "before any host read the item";
    EXPECT_EQ(bus.pixmaps(service).size(), 2u);
    item.showIcon(solidImage(Qt::green));
    item.setToolTip(QStringLiteral("two"));
    EXPECT_EQ(signalled(), "1 icons, 1 tooltips") << "after a host read the icon";

    // A host announced now (its announcement may come after its first read)
    // leaves the item telling of its changes.
    watcher.registerHost();
    ASSERT_TRUE(bus.roundTrip(watcher.uniqueName()));
    item.showIcon(solidImage(Qt::blue));
    item.setToolTip(QStringLiteral("three"));
    EXPECT_EQ(signalled(), "2 icons, 2 tooltips") << "after a host was announced";

    // The panel restarts: its new watcher and host start from nothing.
    watcher.items.clear();
    watcher.releaseName();
    watcher.takeName();
    ASSERT_TRUE(testing::runUntil([&] { return watcher.items == QStringList{service}; }))
        << "the new watcher never took the item";
    item.showIcon(solidImage(Qt::red));
    item.setToolTip(QStringLiteral("four"));
    EXPECT_EQ(signalled(), "2 icons, 2 tooltips") << "after the watcher changed";
    bus.property(service, QStringLiteral("ToolTip"));
    item.showIcon(solidImage(Qt::green));
    EXPECT_EQ(signalled(), "3 icons, 2 tooltips") << "after the new host read the tooltip";
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
        StatusNotifierItem item(bus.queue, bus.app, {});
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
        "scale 2; running frames: 28x19, 28x19, 28x19, 28x19; first running frame: 28x19 56x38; "
        "waiting: 28x19 56x38; idle: 28x19 56x38");
}

TEST(StatusNotifierItemTests, EveryClickReachesTheHandlerWithTheHostsPosition) {
    Bus bus;
    std::vector<std::optional<QPoint>> clicks;
    StatusNotifierItem item(bus.queue, bus.app, [&](std::optional<QPoint> position) { clicks.push_back(position); });
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
    // frames of the same 1.6 s loop, each at 1x only (on the large size's canvas).
    ASSERT_TRUE(testing::runUntil([&] { return watcher->items.size() == 1; }));
    EXPECT_EQ(item.animator().frames().size(), 4u);
    EXPECT_DOUBLE_EQ(item.animator().frameInterval(), 0.4);
    const auto pixmaps = bus.pixmaps(watcher->items.front());
    ASSERT_EQ(pixmaps.size(), 1);
    EXPECT_EQ(QSize(pixmaps[0].width, pixmaps[0].height), QSize(28, 19));

    // The panel goes; with no other tray the item stays for its return.
    watcher.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(item.tray(), TrayHostChoice::Tray::statusNotifier);
}

} // namespace brindleaf
