// The built application beside gtk-sni-tray's standalone tray (a watcher and
// a host in one process) ended and started again and again, its bar in a
// light and a dark colour in turn: the bar shows the icon once each time, in
// the tint of the bar it is on.
#include "tests/app/x11/PanelContrast.hpp"
#include "tests/app/x11/StatusNotifierHost.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace brindleaf::testing;

namespace {

// What the bar shows: each icon's contrast with the bar's colour.
struct Bar {
    QImage image;
    QRgb colour = 0;
    std::vector<QRect> icons;
    std::vector<double> contrasts;

    static Bar read(const StatusNotifierHost& host) {
        Bar bar;
        bar.image = host.panelImage();
        if (bar.image.isNull()) return bar;
        bar.colour = commonestColour(bar.image);
        bar.icons = StatusNotifierHost::iconsIn(bar.image);
        for (const QRect& icon : bar.icons) bar.contrasts.push_back(mostContrast(bar.image.copy(icon), bar.colour));
        return bar;
    }
    bool sameIconsAs(const Bar& other) const { return !image.isNull() && icons == other.icons; }
    bool allStandOut() const {
        return !icons.empty() && std::all_of(contrasts.begin(), contrasts.end(), [](double c) { return c >= 3; });
    }
    std::string describe() const {
        if (image.isNull()) return "the bar is not mapped";
        std::ostringstream text;
        text << icons.size() << " icon(s) on the bar's colour #" << std::hex << (colour & 0xffffff) << std::dec;
        for (std::size_t i = 0; i < icons.size(); ++i)
            text << "; at x " << icons[i].x() << ", " << icons[i].width() << "x" << icons[i].height() << ", contrast "
                 << contrasts[i] << ":1";
        return text.str();
    }
};

} // namespace

// As a user restarting the bar with another colour ten times found it: now and
// then two icons on the bar (one in the old bar's tint) while the watcher
// listed one item.
TEST(StatusNotifierPanelRestartTests, EveryRestartOfTheBarShowsTheIconOnceInTheNewBarsTint) {
    StatusNotifierHost host(StatusNotifierHost::Panel::gtkSniTray);
    TrayRig rig;
    rig.startApp();
    ASSERT_TRUE(waitUntil([] {
        return !TrayRig::run("xdotool search --name '^Qt Selection Owner for brindleaf$'").empty();
    })) << "the application did not start";
    for (int start = 1; start <= 20; ++start) {
        const std::string colour = start % 2 ? "#f0f0f0" : "#303030";
        SCOPED_TRACE("start " + std::to_string(start) + ", bar " + colour);
        host.setLook(colour);
        ASSERT_TRUE(host.start()) << "the bar's watcher has no host";
        ASSERT_TRUE(waitUntil([&] { return host.brindleafItem().has_value(); }))
            << "the application's item is not registered; items: " << host.registeredItems().size();
        // Settled: every icon stands out from this bar (the application has
        // read the new bar's colour), and two looks in a row find the same icons.
        Bar seen, last;
        const bool settled = waitUntil([&] {
            last = std::exchange(seen, Bar::read(host));
            return seen.allStandOut() && seen.sameIconsAs(last);
        });
        EXPECT_TRUE(settled) << "the bar never settled with every icon in its tint: " << seen.describe();
        EXPECT_EQ(seen.icons.size(), 1u) << seen.describe();
        EXPECT_EQ(host.registeredItems().size(), 1u);
        ASSERT_TRUE(host.stop()) << "the bar's watcher stays on the bus";
    }
}
