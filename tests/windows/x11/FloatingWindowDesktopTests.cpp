// Under a real X server and window manager: the floating window is on every desktop.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "tests/windows/WindowsTestSupport.hpp"
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
