#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"
#include "platform/X11KeyGrabber.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "tests/support/OtherX11Client.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/windows/x11/WindowsX11TestSupport.hpp"
#include "windows/GeneralSettingsPane.hpp"
#include "windows/ShortcutRecorderView.hpp"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace brindleaf;

namespace {

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// The application's hot keys on the X server of the test rig: the settings
// store, the two monitors re-registered together on every stored change, and
// the X11 key grabs delivering presses to a main queue the test drains.
class GlobalHotkeysX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("DISPLAY")) << "run inside tools/with-xvfb.sh";
        run("setxkbmap us");
        Logger::setSink(log);
        grabber = std::make_shared<X11KeyGrabber>(queue);
        ASSERT_TRUE(grabber->isAvailable());
        GlobalHotkeyMonitor::setKeyGrabber(grabber);
        store.addObserver([this](ProviderSettingsStore::Property property) {
            if (property == ProviderSettingsStore::Property::toggleShortcut ||
                property == ProviderSettingsStore::Property::windowShortcut) {
                queue.post([this] { registerBoth(); });
            }
        });
    }
    void TearDown() override {
        GlobalHotkeyMonitor::setKeyGrabber(nullptr);
        Logger::setSink(nullptr);
    }

    void registerBoth() {
        GlobalHotkeyMonitor::registerTogether(
            {{&toggleMonitor, store.toggleShortcut()}, {&windowMonitor, store.windowShortcut()}});
    }

    bool waitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 1000; ++i) {
            queue.drain();
            QCoreApplication::processEvents();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Presses the keys, then the window shortcut as a marker: once it has fired, every earlier press has arrived.
    void pressThenMark(const std::string& xdotoolArguments) {
        const int marks = windowPresses;
        run("xdotool " + xdotoolArguments + " key ctrl+alt+super+a");
        ASSERT_TRUE(waitFor([&] { return windowPresses > marks; }));
    }

    bool logged(const std::string& line) const {
        auto messages = log->messages();
        return std::find(messages.begin(), messages.end(), line) != messages.end();
    }

    ManualMainQueue queue;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<X11KeyGrabber> grabber;
    ProviderSettingsStore store{UserDefaults::inMemory("x11")};
    int togglePresses = 0;
    int windowPresses = 0;
    GlobalHotkeyMonitor toggleMonitor{GlobalHotkeyMonitor::toggleHotkeyID, [this] { ++togglePresses; }};
    GlobalHotkeyMonitor windowMonitor{GlobalHotkeyMonitor::windowHotkeyID, [this] { ++windowPresses; }};
};

} // namespace

TEST_F(GlobalHotkeysX11Test, DefaultShortcutsFireOnceAlsoWithNumLockAndTheOldChordGoesSilent) {
    registerBoth();
    EXPECT_TRUE(logged("hotkey.registered id=1 display=Ctrl+Alt+Super+S"));
    EXPECT_TRUE(logged("hotkey.registered id=2 display=Ctrl+Alt+Super+A"));
    pressThenMark("key ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 1);
    pressThenMark("key Num_Lock key ctrl+alt+super+s key Num_Lock");
    EXPECT_EQ(togglePresses, 2);

    EXPECT_EQ(store.updateToggleShortcut({2, 6400}), ShortcutChangeResult::accepted);
    queue.drain();
    pressThenMark("key ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 2) << "the old chord is silent";
    pressThenMark("key ctrl+alt+super+d");
    EXPECT_EQ(togglePresses, 3);
}

TEST_F(GlobalHotkeysX11Test, ResettingThroughAMomentOfEqualShortcutsKeepsBothGrabs) {
    // Panel on Ctrl+Alt+Super+A and window on Ctrl+Alt+Super+S, then the panel's reset: the window first moves to
    // its default (both Ctrl+Alt+Super+A for a moment), then the panel takes Ctrl+Alt+Super+S.
    store.setWindowShortcut({13, 6400}); // Ctrl+Alt+Super+W, out of the way
    store.setToggleShortcut(ProviderSettingsStore::defaultWindowShortcut);
    store.setWindowShortcut(ProviderSettingsStore::defaultToggleShortcut);
    queue.drain();
    store.setWindowShortcut(ProviderSettingsStore::defaultWindowShortcut);
    queue.drain();
    store.setToggleShortcut(ProviderSettingsStore::defaultToggleShortcut);
    queue.drain();
    pressThenMark("key ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 1);
    EXPECT_EQ(windowPresses, 1) << "the window shortcut kept its grab";
}

TEST_F(GlobalHotkeysX11Test, AChordHeldByAnotherClientIsLoggedAndShownByTheRecorder) {
    brindleaf::testing::x11Application();
    brindleaf::testing::OtherX11Client other;
    other.grabWithAnyModifiers("AC02");
    registerBoth();
    EXPECT_TRUE(logged("hotkey.register.failed id=1 status=10 reason=the key is taken by another program"));
    EXPECT_FALSE(toggleMonitor.isRegistered());
    EXPECT_TRUE(windowMonitor.isRegistered());

    ShortcutRecorderView view(std::make_unique<ShortcutRecorderModel>(
        store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut,
        [this](const HotkeyShortcut& s) { return store.updateToggleShortcut(s); }, [] {},
        GlobalHotkeyMonitor::toggleHotkeyID));
    auto* message = view.findChild<QLabel*>("shortcutMessage");
    EXPECT_EQ(message->text().toStdString(),
              "Ctrl+Alt+Super+S does nothing here: the key is taken by another program. Choose another shortcut.");
}

TEST_F(GlobalHotkeysX11Test, DisplayStringFollowsTheLayout) {
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "Ctrl+Alt+Super+S");
    EXPECT_EQ((HotkeyShortcut{6, 6400}).displayString(), "Ctrl+Alt+Super+Z");
    run("setxkbmap de");
    EXPECT_TRUE(waitFor([] { return (HotkeyShortcut{6, 6400}).displayString() == "Ctrl+Alt+Super+Y"; }));
    EXPECT_EQ((HotkeyShortcut{41, 256}).displayString(), "Super+Ö");
    EXPECT_EQ((HotkeyShortcut{1, 6400}).displayString(), "Ctrl+Alt+Super+S");
    run("setxkbmap us");
    EXPECT_TRUE(waitFor([] { return (HotkeyShortcut{6, 6400}).displayString() == "Ctrl+Alt+Super+Z"; }));
}

TEST_F(GlobalHotkeysX11Test, WhileRecordingTheOtherShortcutReachesTheRecorder) {
    brindleaf::testing::x11Application();
    registerBoth();
    ShortcutRecorderView view(std::make_unique<ShortcutRecorderModel>(
        store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut,
        [this](const HotkeyShortcut& s) { return store.updateToggleShortcut(s); }, [] {},
        GlobalHotkeyMonitor::toggleHotkeyID));
    view.show();
    view.activateWindow();
    ASSERT_TRUE(waitFor([&] { return view.isActiveWindow(); }));
    auto* button = view.findChild<QPushButton*>("shortcutButton");
    auto* message = view.findChild<QLabel*>("shortcutMessage");
    button->setFocus();
    button->click();
    ASSERT_TRUE(view.model().isRecording());

    run("xdotool key ctrl+alt+super+a");
    EXPECT_TRUE(waitFor([&] { return message->text() == "The other shortcut already uses Ctrl+Alt+Super+A."; }))
        << message->text().toStdString();
    EXPECT_EQ(windowPresses, 0);
    EXPECT_TRUE(view.model().isRecording());

    run("xdotool key Escape");
    EXPECT_TRUE(waitFor([&] { return !view.model().isRecording(); }));
    pressThenMark("key ctrl+alt+super+s");
    EXPECT_EQ(togglePresses, 1) << "the hot keys are back";

    button->click();
    run("xdotool key ctrl+shift+super+d");
    EXPECT_TRUE(waitFor([&] { return !view.model().isRecording(); }));
    EXPECT_EQ(store.toggleShortcut(), (HotkeyShortcut{2, 4096 | 512 | 256}));
    queue.drain();
    pressThenMark("key ctrl+shift+super+d");
    EXPECT_EQ(togglePresses, 2) << "the recorded shortcut works";
}

TEST_F(GlobalHotkeysX11Test, TheGeneralPaneNamesRecordedKeysInModifierOrderWhateverTheOrderPressed) {
    brindleaf::testing::x11Application();
    registerBoth();
    brindleaf::testing::TempDir dir;
    GeneralSettingsPane pane(std::shared_ptr<ProviderSettingsStore>(std::shared_ptr<void>(), &store),
                             std::make_shared<LaunchAtLoginController>(
                                 LaunchAtLoginController::Locations{dir / "autostart", {}, "/usr/bin/brindleaf"}));
    pane.show();
    pane.activateWindow();
    ASSERT_TRUE(waitFor([&] { return pane.isActiveWindow(); }));
    auto* panel = pane.findChild<QWidget*>("panelShortcut")->findChild<QPushButton*>("shortcutButton");
    auto* window = pane.findChild<QWidget*>("windowShortcut")->findChild<QPushButton*>("shortcutButton");
    EXPECT_EQ(panel->text().toStdString(), "Ctrl+Alt+Super+S");
    EXPECT_EQ(window->text().toStdString(), "Ctrl+Alt+Super+A");

    // Pressed Super first and Ctrl last, still shown Ctrl, Shift, Super. (Not
    // chords the window manager keeps for itself, such as Ctrl+Alt+Left.)
    const struct {
        const char* keys;
        const char* shown;
    } presses[] = {
        {"super+shift+ctrl+F5", "Ctrl+Shift+Super+F5"},   {"super+ctrl+Left", "Ctrl+Super+Left"},
        {"super+alt+ctrl+space", "Ctrl+Alt+Super+Space"}, {"shift+alt+Page_Down", "Alt+Shift+Page Down"},
        {"shift+ctrl+semicolon", "Ctrl+Shift+;"},
    };
    for (const auto& press : presses) {
        panel->setFocus();
        panel->click();
        ASSERT_TRUE(pane.findChild<ShortcutRecorderView*>("panelShortcut")->model().isRecording());
        run(std::string("xdotool key ") + press.keys);
        EXPECT_TRUE(waitFor([&] { return panel->text().toStdString() == press.shown; }))
            << press.keys << " shows " << panel->text().toStdString();
    }
}
