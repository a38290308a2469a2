// Under a real X server and window manager: the floating window is on every desktop.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "tests/windows/ScrolledListCheck.hpp"
#include "tests/windows/WindowsTestSupport.hpp"
#include "tests/windows/x11/WindowsX11TestSupport.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/FloatingStatusWindowController.hpp"
#include "windows/X11Desktop.hpp"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(FloatingWindowOnX11, ShownOnEveryDesktop) {
    if (!QApplication::instance()) {
        static int argc = 1;
        static char name[] = "windows_x11_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    if (!X11Desktop::isX11()) GTEST_SKIP() << "no X server";
    ManualMainQueue queue;
    auto defaults = UserDefaults::inMemory("floating-x11-tests");
    auto settings = std::make_shared<ProviderSettingsStore>(defaults);
    StatusDashboardModel model(queue, AgentStatusSnapshot{}, settings,
                               std::make_shared<brindleaf::testing::FakeFolderAccessQuery>(), ClearedStaleBaselines{},
                               ProviderCatalog::all());
    FloatingStatusWindowController controller(model, defaults);
    controller.show(std::nullopt);
    ASSERT_NE(controller.window(), nullptr);
    QElapsedTimer timer;
    timer.start();
    std::optional<std::uint32_t> desktop;
    while (timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        desktop = X11Desktop::windowDesktop(controller.window());
        if (desktop == 0xFFFFFFFFu && controller.window()->isVisible()) break;
    }
    EXPECT_EQ(desktop, 0xFFFFFFFFu);
    EXPECT_TRUE(controller.window()->windowFlags() & Qt::WindowStaysOnTopHint);
}

// On the X server, with the translucent chrome (an alpha channel, as over a
// compositor) and the masked one: scrolling the session list leaves nothing
// behind.
TEST(FloatingWindowOnX11, ScrolledListIsPaintedWhole) {
    brindleaf::testing::x11Application();
    if (!X11Desktop::isX11()) GTEST_SKIP() << "no X server";
    ManualMainQueue queue;
    auto defaults = UserDefaults::inMemory("floating-x11-scroll-tests");
    auto settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::vector<AgentSession> many;
    for (int i = 0; i < 30; ++i)
        many.push_back(AgentSession({.id = std::string("s").append(std::to_string(i)),
                                     .provider = "Claude Code",
                                     .title = "Session",
                                     .evidence = "open turn",
                                     .needsUserAttention = i % 3 == 0}));
    StatusDashboardModel model(
        queue,
        AgentStatusSnapshot::make(
            {ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt, std::move(many), 0, 1000, {})}, 1000),
        settings, std::make_shared<brindleaf::testing::FakeFolderAccessQuery>(), ClearedStaleBaselines{},
        ProviderCatalog::all());
    const auto settle = [&] {
        for (int i = 0; i < 3; ++i) {
            queue.drain();
            QCoreApplication::processEvents();
        }
    };
    EXPECT_TRUE(brindleaf::testing::scrollsWhole(model, true, settle));
    EXPECT_TRUE(brindleaf::testing::scrollsWhole(model, false, settle));
}
