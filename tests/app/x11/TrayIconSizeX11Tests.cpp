// The built tray application with the icon size set to Small and to Large, in
// real panels that scale the icon to their slot: LXQt's StatusNotifierItem
// panel and the XEmbed tray of trayer. The ink on the panel differs as the
// sizes do (the pulse 19 against 14 points high).
#include "tests/app/x11/StatusNotifierHost.hpp"
#include "tests/app/x11/TrayRig.hpp"

#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>

using namespace brindleaf::testing;

namespace {

constexpr double pulseRatio = 19.0 / 14.0;

void storeIconSize(const TrayRig& rig, const std::string& size) {
    std::ofstream(rig.settingsFile()) << "{\"welcomeShown.v1\":true,\"statusIconSizeOption.v2\":\"" << size << "\"}\n";
}

// The height of what stands out from the commonest colour; 0 without any.
int inkHeight(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most) most = count, background = colour;
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::abs(qGray(image.pixel(x, y)) - qGray(background)) > 80) top = std::min(top, y), bottom = y;
    return bottom < 0 ? 0 : bottom - top + 1;
}

// The ink height of the idle icon where LXQt's panel shows it.
int inkInStatusNotifierPanel(const std::string& size) {
    StatusNotifierHost host;
    TrayRig rig;
    storeIconSize(rig, size);
    rig.startApp();
    if (!host.start()) {
        ADD_FAILURE() << "the panel's watcher has no host";
        return 0;
    }
    if (!waitUntil([&] { return host.brindleafItem().has_value(); })) {
        ADD_FAILURE() << "the item never registered with the panel";
        return 0;
    }
    // The area where two looks in a row find the same ink: the panel has laid the icon out.
    std::optional<QRect> seen;
    if (!waitUntil([&] {
            const auto now = host.iconArea();
            const bool same = now && now == seen;
            seen = now;
            return same;
        })) {
        ADD_FAILURE() << "the panel shows no settled icon";
        return 0;
    }
    return seen->height();
}

// The ink height of the idle icon in trayer's slot.
int inkInXEmbedTray(const std::string& size) {
    TrayRig rig;
    storeIconSize(rig, size);
    rig.startTrayHost();
    rig.startApp();
    const auto slot = rig.settledTrayIconGeometry();
    if (!slot) {
        ADD_FAILURE() << "the icon never settled in the tray";
        return 0;
    }
    // Qt paints the icon once the window is embedded; wait for ink that two looks agree on.
    int height = 0;
    int previous = -1;
    waitUntil([&] {
        height = inkHeight(TrayRig::grabScreen(*slot));
        const bool same = height > 0 && height == previous;
        previous = height;
        return same;
    });
    return height;
}

} // namespace

TEST(TrayIconSizeX11Tests, SmallAndLargeDifferOnAStatusNotifierPanel) {
    const int small = inkInStatusNotifierPanel("small");
    const int large = inkInStatusNotifierPanel("large");
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    // Each height is whole pixels, so off by at most one.
    EXPECT_NEAR(double(large) / small, pulseRatio, pulseRatio * (1.0 / small + 1.0 / large))
        << large << " over " << small << " pixels";
}

TEST(TrayIconSizeX11Tests, SmallAndLargeDifferInAnXEmbedTray) {
    const int small = inkInXEmbedTray("small");
    const int large = inkInXEmbedTray("large");
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    EXPECT_NEAR(double(large) / small, pulseRatio, pulseRatio * (1.0 / small + 1.0 / large))
        << large << " over " << small << " pixels";
}
