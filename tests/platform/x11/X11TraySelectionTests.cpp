// The XEmbed tray's coming and going on the test's X server, played by a
// second client that takes the system tray selection as a tray does.
#include "platform/X11TraySelection.hpp"
#include "tests/support/FakeXEmbedTray.hpp"

#include <gtest/gtest.h>
#include <poll.h>

using namespace brindleaf;
using brindleaf::testing::FakeXEmbedTray;

namespace {

// Reads events until the selection reports a change (or 10 s pass).
bool changeArrives(X11TraySelection& selection) {
    pollfd descriptor{selection.fileDescriptor(), POLLIN, 0};
    for (int round = 0; round < 100; ++round) {
        if (selection.readEvents()) return true;
        ::poll(&descriptor, 1, 100);
    }
    return false;
}

} // namespace

TEST(X11TraySelectionTests, SeesATrayComeAndGo) {
    X11TraySelection selection;
    ASSERT_TRUE(selection.isConnected());
    EXPECT_FALSE(selection.hasOwner());
    FakeXEmbedTray tray;
    tray.start();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_TRUE(selection.hasOwner());
    tray.stop();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_FALSE(selection.hasOwner());
    // A tray already there at the start is seen at once.
    FakeXEmbedTray second;
    second.start();
    ASSERT_TRUE(changeArrives(selection));
    EXPECT_TRUE(X11TraySelection().hasOwner());
}

TEST(X11TraySelectionTests, WithoutAServerNeverSeesATray) {
    X11TraySelection selection(":99999");
    EXPECT_FALSE(selection.isConnected());
    EXPECT_EQ(selection.fileDescriptor(), -1);
    EXPECT_FALSE(selection.readEvents());
    EXPECT_FALSE(selection.hasOwner());
}
