// The icon size setting as the trays get it: every size on one canvas, so that
// a host scaling the image to its slot keeps the sizes apart. Read back as a
// StatusNotifierItem host reads the item over a private bus, and from Qt's
// XEmbed tray icon.
#include "app/shell/StatusNotifierPixmap.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/StatusIconGeometry.hpp"
#include "tests/app/shell/FakeStatusNotifierWatcher.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/SnapshotOf.hpp"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QIcon>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace brindleaf {

namespace {

using testing::FakeStatusNotifierWatcher;
using testing::snapshotOf;

// The pixel size and the height of the drawn part (alpha above 8) of an image.
struct Drawn {
    QSize pixels;
    int height = 0;
};

Drawn drawn(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    const auto bounds = StatusIconGeometry::opaqueBounds(rgba.constBits(), rgba.width(), rgba.height(),
                                                         static_cast<std::size_t>(rgba.bytesPerLine()));
    return {image.size(), bounds ? bounds->height : 0};
}

// What a host does with an image: scales it to fit its square slot, keeping its shape.
int heightInSlot(const QImage& image, int slot) {
    return drawn(image.scaled(slot, slot, Qt::KeepAspectRatio, Qt::SmoothTransformation)).height;
}

// The images the tray was given for the idle icon, at 1x then 2x: the
// IconPixmap a host reads over the bus, or the pixmaps of Qt's tray icon.
struct SentImages {
    std::vector<QImage> statusNotifier;
    std::vector<QImage> xembed;
};

SentImages sentIdleImages(StatusIconStyle style, StatusIconSizeOption size) {
    testing::shellApplication();
    registerStatusNotifierTypes();
    SentImages sent;
    testing::PrivateSessionBus daemon;
    const QString address = QString::fromStdString(daemon.address());
    static int count = 0;
    ++count;
    QDBusConnection app = QDBusConnection::connectToBus(address, QStringLiteral("size-app-%1").arg(count));
    QDBusConnection host = QDBusConnection::connectToBus(address, QStringLiteral("size-host-%1").arg(count));
    {
        FakeStatusNotifierWatcher watcher(address);
        ManualMainQueue queue;
        const auto mode =
            style == StatusIconStyle::pulse ? StatusIconRenderingMode::monochrome : StatusIconRenderingMode::color;
        for (bool overBus : {true, false}) {
            TrayStatusItem item(queue, overBus ? std::optional(app) : std::nullopt, false);
            item.reloadIcons(style, mode, size);
            item.render(snapshotOf(AgentRunState::complete, 0, 0));
            if (!overBus) {
                const QIcon icon = item.trayIcon()->icon();
                // Asked as a tray at 1x and at 2x asks it.
                const QSize points = icon.availableSizes().value(0);
                for (qreal ratio : {1.0, 2.0}) sent.xembed.push_back(icon.pixmap(points, ratio).toImage());
                continue;
            }
            if (!testing::runUntil([&] { return watcher.items.size() == 1; })) {
                ADD_FAILURE() << "the item never registered with the watcher";
                continue;
            }
            auto call = QDBusMessage::createMethodCall(watcher.items.front(), QStringLiteral("/StatusNotifierItem"),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
            call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("IconPixmap");
            QDBusPendingCall pending = host.asyncCall(call);
            testing::runUntil([&] { return pending.isFinished(); });
            const QDBusMessage reply = pending.reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                ADD_FAILURE() << "the host could not read IconPixmap: " << reply.errorMessage().toStdString();
                continue;
            }
            const QVariant value = reply.arguments().front().value<QDBusVariant>().variant();
            for (const auto& pixmap : qdbus_cast<StatusNotifierPixmaps>(value.value<QDBusArgument>()))
                sent.statusNotifier.push_back(pixmap.toImage());
        }
    }
    QDBusConnection::disconnectFromBus(app.name());
    QDBusConnection::disconnectFromBus(host.name());
    return sent;
}

// The large size's drawing over the small size's, as the icon factory makes
// them at their real size.
double factoryRatio(StatusIconStyle style) {
    const auto mode =
        style == StatusIconStyle::pulse ? StatusIconRenderingMode::monochrome : StatusIconRenderingMode::color;
    const double large = drawn(StatusIconFactory::iconSet(style, mode, StatusIconSizeOption::large).idle->at2x).height;
    const double small = drawn(StatusIconFactory::iconSet(style, mode, StatusIconSizeOption::small).idle->at2x).height;
    return large / small;
}

} // namespace

// Small and large go to both trays as images of one pixel size, at 1x and 2x,
// whose drawn parts differ as the sizes do (the pulse 19 against 14 points
// high): a host that scales them to its slot keeps that difference.
TEST(TrayIconSizeTests, SmallAndLargeDifferInTheDrawnPartOnBothTrays) {
    const struct {
        StatusIconStyle style;
        double ratio;
        QSize canvas;
    } styles[] = {
        {StatusIconStyle::pulse, 19.0 / 14.0, QSize(28, 19)},
        {StatusIconStyle::cloud, factoryRatio(StatusIconStyle::cloud), QSize(36, 28)},
    };
    EXPECT_NEAR(factoryRatio(StatusIconStyle::pulse), 19.0 / 14.0, 0.06);
    for (const auto& s : styles) {
        const SentImages small = sentIdleImages(s.style, StatusIconSizeOption::small);
        const SentImages large = sentIdleImages(s.style, StatusIconSizeOption::large);
        for (bool overBus : {true, false}) {
            const auto& smallImages = overBus ? small.statusNotifier : small.xembed;
            const auto& largeImages = overBus ? large.statusNotifier : large.xembed;
            SCOPED_TRACE(std::string(toString(s.style)) + (overBus ? " over the bus" : " in the XEmbed tray"));
            ASSERT_EQ(smallImages.size(), 2u);
            ASSERT_EQ(largeImages.size(), 2u);
            for (std::size_t i = 0; i < 2; ++i) {
                const int scale = static_cast<int>(i) + 1;
                SCOPED_TRACE(scale);
                const Drawn a = drawn(smallImages[i]);
                const Drawn b = drawn(largeImages[i]);
                EXPECT_EQ(a.pixels, s.canvas * scale);
                EXPECT_EQ(b.pixels, s.canvas * scale);
                ASSERT_GT(a.height, 0);
                // Each height is whole pixels, so off by at most one.
                const double bound = s.ratio * (1.0 / a.height + 1.0 / b.height);
                EXPECT_NEAR(double(b.height) / a.height, s.ratio, bound) << b.height << " over " << a.height;
                // A panel's 22 (44) pixel slot.
                const int slot = 22 * scale;
                const int inSmall = heightInSlot(smallImages[i], slot), inLarge = heightInSlot(largeImages[i], slot);
                EXPECT_NEAR(double(inLarge) / inSmall, s.ratio, s.ratio * (1.0 / inSmall + 1.0 / inLarge))
                    << inLarge << " over " << inSmall << " in the slot";
            }
        }
    }
}

} // namespace brindleaf
