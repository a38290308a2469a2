// Our StatusNotifierItem in a HiDPI panel (LXQt's, at QT_SCALE_FACTOR=2): the
// running loop goes at 1x only, and the panel scales it up.
#include "app/shell/StatusNotifierItem.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/app/x11/StatusNotifierHost.hpp"

#include <QApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <utility>

namespace brindleaf {

namespace {

using testing::runUntil;

// How long each wait runs this process's event loop (the item answers the
// panel on it) for its condition at most.
constexpr std::chrono::seconds timeLimit{20};

} // namespace

// The frame is the only image the item ever shows, so whatever the panel
// draws is the frame.
TEST(StatusNotifierScaleTests, APanelAt2xScalesUpARunningFrameSentAt1x) {
    testing::StatusNotifierHost host;
    static int argc = 1;
    static char name[] = "app_x11_tests";
    static char* argv[] = {name, nullptr};
    // A QApplication, as the binary's other tests need one whichever runs first.
    if (!qApp) new QApplication(argc, argv);
    ::setenv("QT_SCALE_FACTOR", "2", 1);
    host.start();
    ::unsetenv("QT_SCALE_FACTOR");

    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(std::getenv("DBUS_SESSION_BUS_ADDRESS")),
                                                        QStringLiteral("scale-test"));
    {
        ManualMainQueue queue;
        StatusNotifierItem item(queue, bus, {});
        ASSERT_TRUE(item.isExported());
        const StatusIconImageRef frame =
            StatusIconFactory::iconSet(StatusIconStyle::pulse, StatusIconRenderingMode::color,
                                       StatusIconSizeOption::medium)
                .running.front();
        item.showFrame(frame);
        ASSERT_EQ(item.iconPixmaps().size(), 1);
        ASSERT_EQ(item.iconPixmaps().front().width, frame->at1x.width());
        ASSERT_TRUE(runUntil([&] { return host.registeredItems().size() == 1; }, timeLimit))
            << "the item never registered";
        // Drawn once the panel has read it; the same on two looks in a row.
        std::optional<QRect> shown, before;
        ASSERT_TRUE(runUntil(
            [&] {
                before = std::exchange(shown, host.iconArea());
                return shown && shown == before;
            },
            timeLimit))
            << "the panel shows no icon";
        // At 2x the panel draws the 23 x 16 frame at twice its size (as it
        // draws the 46 x 32 image of a still one), not at its own pixel size.
        EXPECT_GE(shown->width(), frame->at1x.width() * 5 / 4) << shown->width() << "x" << shown->height();
        EXPECT_GE(shown->height(), frame->at1x.height() * 5 / 4) << shown->width() << "x" << shown->height();
    }
    QDBusConnection::disconnectFromBus(bus.name());
}

} // namespace brindleaf
