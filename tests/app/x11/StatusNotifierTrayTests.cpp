// The built tray application with a StatusNotifierItem host (LXQt's panel) on
// a private session bus, read over the bus as the host reads it.
#include "tests/app/x11/StatusNotifierHost.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <gtest/gtest.h>

using namespace brindleaf::testing;

namespace {

const std::string popoverTitle = "Brindleaf Dashboard";
const std::string popoverHotKey = "ctrl+alt+super+s";

// The host on its bus, the application started before it, and the icon once
// the panel shows it and has settled.
struct HostAndApp {
    StatusNotifierHost host;
    TrayRig rig;
    std::string item;
    QRect icon;
    // The panel is left out of the work area: a popup placed at a click on
    // the panel before that would be placed over it.
    ::testing::AssertionResult panelSettled = ::testing::AssertionFailure();
    HostAndApp() {
        rig.startApp();
        // The application runs (its first window exists) before the panel starts.
        waitUntil([] { return !TrayRig::run("xdotool search --name '^Qt Selection Owner for brindleaf$'").empty(); });
        host.start();
        if (waitUntil([&] { return host.brindleafItem().has_value(); })) item = *host.brindleafItem();
        // The icon where two looks in a row find it, in the settled panel.
        std::optional<QRect> seen;
        waitUntil([&] {
            const auto now = host.iconArea();
            const bool same = now && now == seen;
            seen = now;
            return same && bool(host.isLeftOutOfWorkArea());
        });
        if (seen) icon = *seen;
        panelSettled = host.isLeftOutOfWorkArea();
    }
    bool popoverShown() const { return rig.isWindowShown(popoverTitle); }
};

// The mean grey of the opaque pixels; -1 without any.
int meanInk(const QImage& image) {
    long sum = 0, count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 100) sum += qGray(image.pixel(x, y)), ++count;
    return count ? static_cast<int>(sum / count) : -1;
}

} // namespace

TEST(StatusNotifierTrayTests, HostStartedAfterTheApplicationShowsTheIconAtBothScales) {
    HostAndApp app;
    ASSERT_FALSE(app.item.empty()) << "registered: " << app.host.registeredItems().size();
    EXPECT_EQ(app.host.itemProperty(app.item, "Title"), "s \"Brindleaf\"\n");
    EXPECT_FALSE(app.icon.isEmpty());
    // The idle pulse, medium, on the large size's canvas: 28 x 19 and 56 x 38,
    // tinted for the panel: LXQt's default panel is see-through, which without
    // a compositor shows black, so white at 85 % once the panel has been read.
    std::vector<QImage> pixmaps;
    EXPECT_TRUE(waitUntil([&] {
        pixmaps = app.host.itemPixmaps(app.item);
        return pixmaps.size() == 2 && meanInk(pixmaps[0]) > 215 && meanInk(pixmaps[1]) > 215;
    })) << "ink "
        << (pixmaps.empty() ? -1 : meanInk(pixmaps[0]));
    ASSERT_EQ(pixmaps.size(), 2u);
    EXPECT_EQ(pixmaps[0].size(), QSize(28, 19));
    EXPECT_EQ(pixmaps[1].size(), QSize(56, 38));
    for (const auto& pixmap : pixmaps) {
        int maxAlpha = 0;
        for (int y = 0; y < pixmap.height(); ++y)
            for (int x = 0; x < pixmap.width(); ++x) maxAlpha = std::max(maxAlpha, qAlpha(pixmap.pixel(x, y)));
        EXPECT_NEAR(maxAlpha, 217, 2);
    }
}

TEST(StatusNotifierTrayTests, HotKeyAfterAClickOpensThePopupWhereTheClickDid) {
    HostAndApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    ASSERT_TRUE(app.panelSettled);
    TrayRig::click(app.icon, 1);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    const auto clicked = app.rig.windowGeometry(popoverTitle);
    ASSERT_TRUE(clicked.has_value());
    // Under the icon.
    EXPECT_GT(clicked->top(), app.icon.bottom())
        << "icon " << app.icon.x() << "," << app.icon.y() << " " << app.icon.width() << "x" << app.icon.height() << "; "
        << app.host.isLeftOutOfWorkArea().message();
    EXPECT_LE(clicked->left(), app.icon.center().x());
    TrayRig::key("Escape");
    ASSERT_TRUE(waitUntil([&] { return !app.popoverShown(); }));

    // The pointer elsewhere: the hot key's popup still opens at the icon.
    TrayRig::run("xdotool mousemove 700 600");
    TrayRig::key(popoverHotKey);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    EXPECT_EQ(app.rig.windowGeometry(popoverTitle), clicked);
}

TEST(StatusNotifierTrayTests, RightClickTogglesThePopup) {
    HostAndApp app;
    ASSERT_FALSE(app.icon.isEmpty());
    TrayRig::click(app.icon, 3);
    ASSERT_TRUE(waitUntil([&] { return app.popoverShown(); }));
    TrayRig::clickAgain(app.icon, 3);
    EXPECT_TRUE(waitUntil([&] { return !app.popoverShown(); }));
}

// Each panel, ended and started again and again beside the running
// application, shows its item after every start. gtk-sni-tray's watcher takes
// its name before its object is there (a registration at that moment fails)
// and registers its host a moment later.
TEST(StatusNotifierTrayTests, EveryStartOfEachPanelRegistersTheRunningApplication) {
    using Panel = StatusNotifierHost::Panel;
    for (const auto& [panel, starts] : {std::pair{Panel::gtkSniTray, 8}, {Panel::lxqt, 3}}) {
        SCOPED_TRACE(panel == Panel::gtkSniTray ? "gtk-sni-tray-standalone" : "lxqt-panel");
        StatusNotifierHost host(panel);
        TrayRig rig;
        rig.startApp();
        ASSERT_TRUE(waitUntil([] {
            return !TrayRig::run("xdotool search --name '^Qt Selection Owner for brindleaf$'").empty();
        })) << "the application did not start";
        for (int start = 1; start <= starts; ++start) {
            ASSERT_TRUE(host.start()) << "start " << start << ": the panel's watcher has no host";
            EXPECT_TRUE(waitUntil([&] { return host.brindleafItem().has_value(); }))
                << "start " << start << ": not registered; items: " << host.registeredItems().size();
            ASSERT_TRUE(host.stop()) << "start " << start << ": the panel's watcher stays on the bus";
        }
    }
}
