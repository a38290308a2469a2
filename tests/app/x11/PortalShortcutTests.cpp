// The hot keys of a Wayland session, through the real desktop portal chain
// (xdg-desktop-portal, its KDE backend and kglobalaccel) on the test's own
// bus and X server. The program is told it runs in a Wayland session while
// its windows go to the X server, where the chain's key grabs are.
#include "app/shell/PortalKeyGrabber.hpp"
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/app/x11/PortalChain.hpp"
#include "tests/app/x11/TrayRig.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/TempDir.hpp"
#include "windows/ShortcutRecorderModel.hpp"

#include <QApplication>
#include <QDBusConnection>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace brindleaf::testing {
namespace {

const std::string popoverTitle = "Brindleaf Dashboard";
const std::string floatingTitle = "Brindleaf";

// The tray application started in a Wayland session's environment beside the portal chain.
TEST(PortalShortcutTests, TheProgramTakesItsHotKeysFromThePortal) {
    TrayRig rig;
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.isReady()) << "the test's bus daemon did not answer";
    ScopedVariable busAddress("DBUS_SESSION_BUS_ADDRESS", bus.address());
    PortalChain chain(bus, rig.root() / "portal.log");
    ASSERT_TRUE(chain.start());
    pid_t pid = -1;
    {
        ScopedVariable session("XDG_SESSION_TYPE", "wayland");
        pid = rig.startApp().pid();
    }
    ASSERT_TRUE(waitUntil([&] { return chain.bindCalls() >= 2; }))
        << "the program bound no shortcuts with the portal (chain output: " << rig.root() / "portal.log"
        << ")";
    TrayRig::key("ctrl+alt+super+s");
    ASSERT_TRUE(waitUntil([&] { return rig.isWindowShown(popoverTitle); }))
        << "the dashboard did not open for Ctrl+Alt+Super+S";
    TrayRig::key("ctrl+alt+super+a");
    EXPECT_TRUE(waitUntil([&] { return rig.isWindowShown(floatingTitle); }))
        << "the floating window did not show for Ctrl+Alt+Super+A";

    chain.stopPortal();
    // It still answers: a second start's flags open their window in it.
    EXPECT_EQ(rig.runApp({"--show-settings=agents"}).exitStatus, 0);
    EXPECT_TRUE(waitUntil([&] { return rig.isWindowShown("Agents"); })) << "the running copy did not open Settings";
    EXPECT_TRUE(TrayRig::isRunning(pid)) << "the program ended when the portal left";
}

// The portal's key grabber behind the two hot-key monitors, on a connection
// to the test's bus; the settings store re-registers both on every change,
// as the application does.
class PortalHotkeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("DISPLAY")) << "run inside tools/with-xvfb.sh";
        xcbApplication();
        ASSERT_TRUE(bus.isReady()) << "the test's bus daemon did not answer";
        ASSERT_TRUE(chain.start());
        connection.emplace(QDBusConnection::connectToBus(QString::fromStdString(bus.address()),
                                                         QString::fromStdString("portal-test-" + bus.address())));
        ASSERT_TRUE(connection->isConnected());
        Logger::setSink(log);
        grabber = std::make_shared<PortalKeyGrabber>(
            *connection, std::vector<PortalKeyGrabber::Slot>{
                             {GlobalHotkeyMonitor::toggleHotkeyID, "toggle-dashboard", "Show Tray Panel"},
                             {GlobalHotkeyMonitor::windowHotkeyID, "toggle-floating-window", "Show Floating Window"},
                         });
        GlobalHotkeyMonitor::setKeyGrabber(grabber);
        store.addObserver([this](ProviderSettingsStore::Property property) {
            if (property == ProviderSettingsStore::Property::toggleShortcut ||
                property == ProviderSettingsStore::Property::windowShortcut) {
                registerBoth();
            }
        });
        registerBoth();
        ASSERT_TRUE(bound()) << "the portal bound no shortcuts (chain output: " << folders / "portal.log"
                             << ")";
    }
    void TearDown() override {
        GlobalHotkeyMonitor::setKeyGrabber(nullptr);
        grabber.reset();
        Logger::setSink(nullptr);
        if (connection) QDBusConnection::disconnectFromBus(connection->name());
    }

    void registerBoth() {
        GlobalHotkeyMonitor::registerTogether(
            {{&toggleMonitor, store.toggleShortcut()}, {&windowMonitor, store.windowShortcut()}});
    }
    // Both hot keys registered and the desktop's trigger of each known.
    bool bound() {
        return runUntil([&] {
            return grabber->isSettled() && toggleMonitor.isRegistered() && windowMonitor.isRegistered() &&
                   GlobalHotkeyMonitor::desktopTrigger(GlobalHotkeyMonitor::toggleHotkeyID) &&
                   GlobalHotkeyMonitor::desktopTrigger(GlobalHotkeyMonitor::windowHotkeyID);
        });
    }
    // Presses the keys, then the window shortcut as a marker: once it has
    // fired, every earlier press has arrived.
    void pressThenMark(const std::string& keys) {
        const int marks = windowPresses;
        TrayRig::key(keys);
        TrayRig::key("ctrl+alt+super+a");
        ASSERT_TRUE(runUntil([&] { return windowPresses > marks; })) << "the marker Ctrl+Alt+Super+A did not arrive";
    }
    long logged(const std::string& prefix) const {
        const auto messages = log->messages();
        return std::count_if(messages.begin(), messages.end(),
                             [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }

    TempDir folders;
    ScopedVariable home{"HOME", folders.path().string()};
    ScopedVariable config{"XDG_CONFIG_HOME", (folders / "config").string()};
    ScopedVariable data{"XDG_DATA_HOME", (folders / "data").string()};
    ScopedVariable cache{"XDG_CACHE_HOME", (folders / "cache").string()};
    ScopedVariable runtime{"XDG_RUNTIME_DIR", folders.path().string()};
    PrivateSessionBus bus;
    PortalChain chain{bus, folders / "portal.log"};
    std::optional<QDBusConnection> connection;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<PortalKeyGrabber> grabber;
    ProviderSettingsStore store{UserDefaults::inMemory("portal")};
    int togglePresses = 0;
    int windowPresses = 0;
    GlobalHotkeyMonitor toggleMonitor{GlobalHotkeyMonitor::toggleHotkeyID, [this] { ++togglePresses; }};
    GlobalHotkeyMonitor windowMonitor{GlobalHotkeyMonitor::windowHotkeyID, [this] { ++windowPresses; }};
};

TEST_F(PortalHotkeysTest, ARecordedShortcutWorksAndTheOldOneNoLonger) {
    EXPECT_EQ(GlobalHotkeyMonitor::desktopTrigger(GlobalHotkeyMonitor::toggleHotkeyID), "Meta+Ctrl+Alt+S");
    pressThenMark("ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 1);

    ShortcutRecorderModel recorder(
        store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut,
        [this](const HotkeyShortcut& s) { return store.updateToggleShortcut(s); }, [] {},
        GlobalHotkeyMonitor::toggleHotkeyID);
    EXPECT_EQ(recorder.buttonTitle(), "Meta+Ctrl+Alt+S") << "the pane shows the desktop's trigger";
    EXPECT_EQ(recorder.message(), std::nullopt);
    recorder.pressRecordButton();
    ASSERT_TRUE(runUntil([&] { return grabber->isSettled(); }));
    // Ctrl+Shift+Super+D: D is key code 2.
    recorder.keyDown(2,
                     HotkeyShortcut::controlModifier | HotkeyShortcut::shiftModifier | HotkeyShortcut::commandModifier);
    ASSERT_FALSE(recorder.isRecording());
    registerBoth(); // as the status bar controller does on the stored change
    ASSERT_TRUE(bound());
    EXPECT_EQ(recorder.buttonTitle(), "Meta+Ctrl+Shift+D");
    EXPECT_EQ(recorder.message(), std::nullopt);
    pressThenMark("ctrl+shift+super+d");
    EXPECT_EQ(togglePresses, 2) << "the recorded shortcut works";
    pressThenMark("ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 2) << "the old one no longer does";
}

TEST_F(PortalHotkeysTest, WithoutThePortalTheHotKeysAreOffSaidOnceAndBoundAgainWhenItIsBack) {
    ShortcutRecorderModel recorder(
        store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut, nullptr, [] {},
        GlobalHotkeyMonitor::toggleHotkeyID);
    chain.stopPortal();
    ASSERT_TRUE(runUntil([&] { return !grabber->isAvailable(); })) << "the portal's leaving went unnoticed";
    EXPECT_FALSE(toggleMonitor.isRegistered());
    EXPECT_EQ(recorder.message(), "The hot keys need the desktop's portal; Ctrl+Alt+Super+S does nothing here.");
    registerBoth(); // a change of the settings meanwhile
    EXPECT_EQ(logged("hotkey.portal.unavailable"), 1);
    EXPECT_EQ(logged("hotkey.register.failed"), 0);

    ASSERT_TRUE(chain.startPortal());
    ASSERT_TRUE(bound()) << "the hot keys were not bound again when the portal came back";
    EXPECT_EQ(recorder.message(), std::nullopt);
    pressThenMark("ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 1);
}

// The user gave the dashboard's shortcut another key in the desktop's
// settings (kglobalaccel holds it under the session's name) before the start.
class PortalHotkeysChosenInTheDesktopTest : public PortalHotkeysTest {
protected:
    PortalHotkeysChosenInTheDesktopTest() {
        folders.write("config/kglobalshortcutsrc",
                      "[brindleaf_toggle_dashboard_CTRL_ALT_LOGO_s]\n"
                      "_k_friendly_name=brindleaf_toggle_dashboard_CTRL_ALT_LOGO_s\n"
                      "toggle-dashboard=Meta+Ctrl+Alt+K,Meta+Ctrl+Alt+S,Show Tray Panel\n");
    }
};

TEST_F(PortalHotkeysChosenInTheDesktopTest, TheUsersKeyWinsAndThePaneSaysWhereToChangeIt) {
    ShortcutRecorderModel recorder(
        store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut, nullptr, [] {},
        GlobalHotkeyMonitor::toggleHotkeyID);
    EXPECT_EQ(recorder.buttonTitle(), "Meta+Ctrl+Alt+K");
    EXPECT_EQ(recorder.message(),
              "The desktop keeps Meta+Ctrl+Alt+K for this; change it in the desktop's keyboard shortcut settings.");
    pressThenMark("ctrl+alt+super+k");
    EXPECT_EQ(togglePresses, 1);
}

} // namespace
} // namespace brindleaf::testing
