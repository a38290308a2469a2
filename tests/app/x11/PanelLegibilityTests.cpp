// The built application's icon on a dark and a light panel of each kind of
// tray host, read back from the X server: its most contrasting pixels stand
// out from the panel by 3:1 or more.
#include "tests/app/x11/PanelContrast.hpp"
#include "tests/app/x11/StatusNotifierHost.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace brindleaf::testing;

namespace {

struct Seen {
    double contrast = 1;
    QRgb panel = 0;
    std::string describe() const {
        std::ostringstream text;
        text << "contrast " << contrast << ":1 on the panel colour #" << std::hex << (panel & 0xffffff);
        return text.str();
    }
};

// The icon as the screen shows it, against the panel's colour beside it (the
// commonest in four columns on either side).
Seen onScreen(QRect icon) {
    const QImage band = TrayRig::grabScreen(icon.adjusted(-4, 0, 4, 0));
    if (band.isNull()) return {};
    const int left = icon.left() - std::max(0, icon.left() - 4);
    QImage sides(left + band.width() - left - icon.width(), band.height(), QImage::Format_RGB32);
    for (int y = 0; y < band.height(); ++y) {
        int to = 0;
        for (int x = 0; x < band.width(); ++x)
            if (x < left || x >= left + icon.width()) sides.setPixel(to++, y, band.pixel(x, y));
    }
    Seen seen;
    seen.panel = commonestColour(sides);
    seen.contrast = mostContrast(band.copy(left, 0, icon.width(), band.height()), seen.panel);
    return seen;
}

// Waits until the icon stands out on the screen; what was seen last.
Seen legible(const std::function<std::optional<QRect>()>& icon) {
    Seen seen;
    waitUntil([&] {
        const auto area = icon();
        if (!area) return false;
        seen = onScreen(*area);
        return seen.contrast >= 3;
    });
    return seen;
}

const std::vector<std::string> darkTint = {"--transparent", "true", "--tint", "0x303030", "--alpha", "0"};
const std::vector<std::string> lightTint = {"--transparent", "true", "--tint", "0xe8e8e8", "--alpha", "0"};

} // namespace

// trayer sets no _NET_SYSTEM_TRAY_COLORS: its panel's pixels around the icon
// decide. A switch of its tint while the application runs is followed.
TEST(PanelLegibilityTests, TheIconStandsOutOnTrayerTintedDarkOrLightAndFollowsASwitch) {
    TrayRig rig;
    rig.startTrayHost(darkTint);
    rig.startApp();
    for (const bool dark : {true, false}) {
        SCOPED_TRACE(dark ? "dark tint" : "light tint");
        if (!dark) rig.restartTrayHost(lightTint);
        ASSERT_TRUE(rig.settledTrayIconGeometry().has_value()) << "the icon never settled in trayer";
        const Seen seen = legible([&] { return rig.trayIconGeometry(); });
        EXPECT_GE(seen.contrast, 3.0) << seen.describe();
        // The rig's precondition: the panel is what it should be.
        EXPECT_TRUE(dark ? qGray(seen.panel) < 80 : qGray(seen.panel) > 180) << seen.describe();
    }
}

// No StatusNotifierItem host says what colour it is: the dock window of the
// watcher's process decides (LXQt's panel and gtk-sni-tray run the watcher
// themselves). The images sent over the bus, composited on the panel's
// colour, stand out as well.
TEST(PanelLegibilityTests, TheIconStandsOutOnDarkAndLightStatusNotifierPanels) {
    using Panel = StatusNotifierHost::Panel;
    const struct {
        Panel panel;
        std::string look;
        bool dark;
    } cases[] = {
        {Panel::lxqt, "dark", true},
        {Panel::lxqt, "light", false},
        {Panel::gtkSniTray, "#303030", true},
        {Panel::gtkSniTray, "#e8e8e8", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.panel == Panel::lxqt ? "lxqt-panel, theme " : "gtk-sni-tray-standalone, colour ") + c.look);
        StatusNotifierHost host(c.panel, c.look);
        TrayRig rig;
        ASSERT_TRUE(host.start());
        rig.startApp();
        ASSERT_TRUE(waitUntil([&] { return host.brindleafItem().has_value(); }))
            << "not registered; items: " << host.registeredItems().size();
        const Seen seen = legible([&] { return host.iconArea(); });
        EXPECT_GE(seen.contrast, 3.0) << seen.describe();
        EXPECT_TRUE(c.dark ? qGray(seen.panel) < 80 : qGray(seen.panel) > 180) << seen.describe();
        const auto pixmaps = host.itemPixmaps(*host.brindleafItem());
        ASSERT_FALSE(pixmaps.empty());
        for (const auto& pixmap : pixmaps) EXPECT_GE(mostContrast(pixmap, seen.panel), 3.0) << pixmap.width();
    }
}
