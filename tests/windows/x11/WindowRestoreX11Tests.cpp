// Under a real X server and window manager: the settings and welcome windows
// come back from a minimize when they are shown again, and offer no minimize.
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "tests/windows/WindowsTestSupport.hpp"
#include "tests/windows/x11/WindowsX11TestSupport.hpp"
#include "windows/SettingsWindowController.hpp"
#include "windows/WelcomeWindowController.hpp"
#include "windows/X11Desktop.hpp"

#include <QDialog>
#include <QWindow>
#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::processEventsUntil;
using brindleaf::testing::X11WindowProbe;

namespace {

class WindowRestoreX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        brindleaf::testing::x11Application();
        if (!X11Desktop::isX11()) GTEST_SKIP() << "no X server";
    }

    struct Shown {
        const char* name;
        std::function<QWidget*()> show; // shows the window again, returns it
    };
    std::vector<Shown> windows() {
        return {{"settings",
                 [this] {
                     settings.show();
                     return settings.window();
                 }},
                {"welcome", [this] {
                     welcome.show();
                     return static_cast<QWidget*>(welcome.window());
                 }}};
    }
    bool isOnScreen(QWidget* window) {
        const auto id = xcb_window_t(window->winId());
        return probe.isViewable(id) && !probe.hasState(id, "_NET_WM_STATE_HIDDEN");
    }

    brindleaf::testing::PaneFixture fixture;
    SettingsWindowController settings{fixture.collaborators()};
    WelcomeWindowController welcome{fixture.folderAccess, fixture.launchAtLogin, fixture.settings, [] {}};
    X11WindowProbe probe;
};

TEST_F(WindowRestoreX11Test, AMinimizedWindowIsRestoredWhenShownAgain) {
    for (const Shown& each : windows()) {
        SCOPED_TRACE(each.name);
        QWidget* window = each.show();
        const auto id = xcb_window_t(window->winId());
        // Exposed: Qt has seen the map and sent (and synced) the show's own
        // activation request, which the window manager thus gets first.
        ASSERT_TRUE(processEventsUntil([&] {
            return isOnScreen(window) && window->windowHandle()->isExposed() && bool(probe.manages(id));
        })) << "not shown, or not managed by a window manager: "
            << probe.describe(id);

        // Minimized from outside, as the task bar or a key of the window manager does.
        ASSERT_TRUE(probe.requestIconic(id));
        ASSERT_TRUE(processEventsUntil([&] { return probe.hasState(id, "_NET_WM_STATE_HIDDEN"); }))
            << "asked to minimize, the window manager did not: " << probe.describe(id);
        ASSERT_TRUE(processEventsUntil([&] { return window->isMinimized(); }))
            << "Qt missed the minimize: " << probe.describe(id);

        EXPECT_EQ(each.show(), window);
        EXPECT_TRUE(processEventsUntil([&] { return isOnScreen(window); })) << "not restored: " << probe.describe(id);
        EXPECT_FALSE(window->isMinimized());
    }
}

TEST_F(WindowRestoreX11Test, NeitherWindowOffersMinimizeOrResizing) {
    for (const Shown& each : windows()) {
        SCOPED_TRACE(each.name);
        QWidget* window = each.show();
        const auto id = xcb_window_t(window->winId());
        ASSERT_TRUE(processEventsUntil([&] { return probe.isViewable(id); }));
        const auto functions = probe.motifFunctions(id);
        ASSERT_TRUE(functions.has_value()) << "the window names its functions";
        EXPECT_EQ(*functions & X11WindowProbe::motifFunctionMinimize, 0u);
        const auto limits = probe.sizeLimits(id);
        ASSERT_TRUE(limits.has_value());
        EXPECT_EQ(limits->minWidth, limits->maxWidth);
        EXPECT_EQ(limits->minHeight, limits->maxHeight) << "fixed in height too";
    }
}

} // namespace
