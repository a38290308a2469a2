#include "services/GlobalHotkeyMonitor.hpp"

#include "platform/FakeKeyGrabber.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace brindleaf;
using ::testing::ElementsAre;

namespace {

const HotkeyShortcut toggleDefault{1, 6400};
const HotkeyShortcut windowDefault{0, 6400};
const KeyChord chordS{"AC02", keyModifierControl | keyModifierAlt | keyModifierSuper};
const KeyChord chordA{"AC01", keyModifierControl | keyModifierAlt | keyModifierSuper};

class GlobalHotkeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logger::setSink(log);
        grabber->setKeyText("AC02", "s");
        grabber->setKeyText("AC01", "a");
        GlobalHotkeyMonitor::setKeyGrabber(grabber);
    }
    void TearDown() override {
        GlobalHotkeyMonitor::setKeyGrabber(nullptr);
        Logger::setSink(nullptr);
    }

    std::vector<LogRecord> hotkeyLines() const {
        std::vector<LogRecord> lines;
        for (const auto& record : log->records()) {
            if (record.category == "Hotkey") lines.push_back(record);
        }
        return lines;
    }

    ManualMainQueue queue;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<FakeKeyGrabber> grabber = std::make_shared<FakeKeyGrabber>(&queue);
    int toggles = 0;
    int windows = 0;
};

} // namespace

TEST_F(GlobalHotkeyMonitorTest, RegisteredShortcutFiresOnTheMainQueueAndIsLogged) {
    GlobalHotkeyMonitor monitor(GlobalHotkeyMonitor::toggleHotkeyID, [this] { ++toggles; });
    EXPECT_TRUE(monitor.registerShortcut(toggleDefault));
    EXPECT_EQ(grabber->held().at(1), chordS);
    EXPECT_EQ(monitor.registration(),
              (HotkeyRegistration{HotkeyRegistration::State::registered, toggleDefault, KeyGrabResult::grabbed}));
    ASSERT_EQ(hotkeyLines().size(), 1u);
    EXPECT_EQ(hotkeyLines()[0].message, "hotkey.registered id=1 display=Ctrl+Alt+Super+S");
    EXPECT_EQ(hotkeyLines()[0].level, LogLevel::info);

    grabber->press(chordS);
    EXPECT_EQ(toggles, 0) << "presses arrive through the main queue";
    queue.drain();
    EXPECT_EQ(toggles, 1);
    grabber->press(chordA);
    queue.drain();
    EXPECT_EQ(toggles, 1);
}

TEST_F(GlobalHotkeyMonitorTest, RefusedOrImpossibleRegistrationsAreReportedWithTheirStatus) {
    grabber->takeByOtherProgram(chordS);
    GlobalHotkeyMonitor monitor(1, [this] { ++toggles; });
    EXPECT_FALSE(monitor.registerShortcut(toggleDefault));
    EXPECT_EQ(monitor.registration().state, HotkeyRegistration::State::failed);
    EXPECT_EQ(monitor.registration().status, 10);
    EXPECT_EQ(GlobalHotkeyMonitor::registrationOf(1), monitor.registration());

    EXPECT_FALSE(monitor.registerShortcut({52, 6400})) << "a key code no PC keyboard has";
    EXPECT_EQ(monitor.registration().status, KeyGrabResult::noSuchKey);

    GlobalHotkeyMonitor::setKeyGrabber(nullptr);
    EXPECT_FALSE(monitor.registerShortcut(windowDefault));
    EXPECT_EQ(monitor.registration().status, KeyGrabResult::noServer);

    std::vector<std::string> messages;
    for (const auto& line : hotkeyLines()) {
        EXPECT_EQ(line.level, LogLevel::error);
        messages.push_back(line.message);
    }
    EXPECT_THAT(messages,
                ElementsAre("hotkey.register.failed id=1 status=10 reason=the key is taken by another program",
                            "hotkey.register.failed id=1 status=-2 reason=the keyboard has no such key",
                            "hotkey.register.failed id=1 status=-1 reason=there is no X server to take keys from"));
}

TEST_F(GlobalHotkeyMonitorTest, ReRegisteringReleasesTheOldShortcutAndShiftAloneRegistersNothing) {
    GlobalHotkeyMonitor monitor(1, [this] { ++toggles; });
    monitor.registerShortcut(toggleDefault);
    monitor.registerShortcut(windowDefault);
    grabber->press(chordS);
    queue.drain();
    EXPECT_EQ(toggles, 0) << "the old shortcut is silent";
    grabber->press(chordA);
    queue.drain();
    EXPECT_EQ(toggles, 1);

    log->clear();
    EXPECT_FALSE(monitor.registerShortcut({0, HotkeyShortcut::shiftModifier}));
    EXPECT_TRUE(grabber->held().empty());
    EXPECT_EQ(monitor.registration().state, HotkeyRegistration::State::none);
    EXPECT_TRUE(hotkeyLines().empty()) << "nothing is logged";
}

TEST_F(GlobalHotkeyMonitorTest, DispatchReachesOnlyTheMonitorUnderTheIdAndDestructionReleases) {
    {
        GlobalHotkeyMonitor toggle(1, [this] { ++toggles; });
        GlobalHotkeyMonitor window(2, [this] { ++windows; });
        toggle.registerShortcut(toggleDefault);
        window.registerShortcut(windowDefault);
        GlobalHotkeyMonitor::dispatch(2);
        GlobalHotkeyMonitor::dispatch(7);
        EXPECT_EQ(toggles, 0);
        EXPECT_EQ(windows, 1);
    }
    EXPECT_TRUE(grabber->held().empty());
    GlobalHotkeyMonitor::dispatch(2);
    EXPECT_EQ(windows, 1);
}

TEST_F(GlobalHotkeyMonitorTest, RegisteringTogetherReleasesBothBeforeTakingEither) {
    GlobalHotkeyMonitor toggle(1, [] {});
    GlobalHotkeyMonitor window(2, [] {});
    toggle.registerShortcut(windowDefault);
    window.registerShortcut(toggleDefault);
    const auto before = grabber->calls().size();
    GlobalHotkeyMonitor::registerTogether({{&toggle, toggleDefault}, {&window, windowDefault}});
    std::vector<std::string> calls(grabber->calls().begin() + static_cast<long>(before), grabber->calls().end());
    EXPECT_THAT(calls, ElementsAre("release 1", "release 2", "grab 1 AC02+13", "grab 2 AC01+13"));
    EXPECT_TRUE(toggle.isRegistered());
    EXPECT_TRUE(window.isRegistered());
}

TEST_F(GlobalHotkeyMonitorTest, SuspensionReleasesEveryHotKeyAndTakesTheLatestShortcutsBack) {
    GlobalHotkeyMonitor toggle(1, [this] { ++toggles; });
    GlobalHotkeyMonitor window(2, [this] { ++windows; });
    toggle.registerShortcut(toggleDefault);
    window.registerShortcut(windowDefault);
    std::vector<std::uint32_t> told;
    auto observer = GlobalHotkeyMonitor::addRegistrationObserver([&](std::uint32_t id) { told.push_back(id); });
    const HotkeyShortcut recorded{2, 6400}; // Ctrl+Alt+Super+D
    {
        GlobalHotkeyMonitor::Suspension suspension;
        EXPECT_TRUE(GlobalHotkeyMonitor::isSuspended());
        EXPECT_TRUE(grabber->held().empty());
        EXPECT_EQ(toggle.registration().state, HotkeyRegistration::State::suspended);
        EXPECT_FALSE(toggle.registerShortcut(recorded));
        EXPECT_TRUE(grabber->held().empty()) << "nothing is grabbed while suspended";
        told.clear();
    }
    EXPECT_FALSE(GlobalHotkeyMonitor::isSuspended());
    EXPECT_EQ(grabber->held().at(1), (KeyChord{"AC03", chordS.modifiers}));
    EXPECT_EQ(grabber->held().at(2), chordA);
    EXPECT_EQ(toggle.registration().shortcut, recorded);
    EXPECT_THAT(told, ElementsAre(1u, 2u));
    GlobalHotkeyMonitor::removeRegistrationObserver(observer);
}

TEST_F(GlobalHotkeyMonitorTest, ChordsAndLayoutTextFollowTheKeyboard) {
    EXPECT_EQ(GlobalHotkeyMonitor::chordOf({1, 512 | 2048}), (KeyChord{"AC02", keyModifierShift | keyModifierAlt}));
    EXPECT_EQ(GlobalHotkeyMonitor::chordOf({6, 4096 | 256}), (KeyChord{"AB01", keyModifierControl | keyModifierSuper}));
    EXPECT_FALSE(GlobalHotkeyMonitor::chordOf({200, 256}));

    grabber->setKeyText("AB01", "y"); // a German keyboard
    EXPECT_EQ((HotkeyShortcut{6, 6400}).displayString(), "Ctrl+Alt+Super+Y");
    grabber->setKeycodeName(52, "AB01");
    EXPECT_EQ(GlobalHotkeyMonitor::keyCodeOfNativeKey(52), 6u);
    EXPECT_FALSE(GlobalHotkeyMonitor::keyCodeOfNativeKey(53));
}

// A grabber that settles later (the desktop portal): it goes and comes back, and reports the desktop's trigger.
TEST_F(GlobalHotkeyMonitorTest, HotKeysFollowAGrabberThatGoesAndComesBack) {
    grabber->setUnavailableStatus(KeyGrabResult::noPortal);
    GlobalHotkeyMonitor toggle(GlobalHotkeyMonitor::toggleHotkeyID, [this] { ++toggles; });
    GlobalHotkeyMonitor window(GlobalHotkeyMonitor::windowHotkeyID, [this] { ++windows; });
    GlobalHotkeyMonitor::registerTogether({{&toggle, toggleDefault}, {&window, windowDefault}});
    std::vector<std::uint32_t> told;
    const auto observer = GlobalHotkeyMonitor::addRegistrationObserver([&](std::uint32_t id) { told.push_back(id); });
    EXPECT_EQ(GlobalHotkeyMonitor::desktopTrigger(1), std::nullopt) << "not reported yet";
    grabber->setBoundTrigger(1, "Meta+Ctrl+Alt+S");
    grabber->announceChange();
    EXPECT_EQ(GlobalHotkeyMonitor::desktopTrigger(1), "Meta+Ctrl+Alt+S");
    EXPECT_EQ(told, (std::vector<std::uint32_t>{1, 2}));

    log->clear();
    grabber->setAvailable(false);
    grabber->announceChange();
    EXPECT_EQ(toggle.registration(),
              (HotkeyRegistration{HotkeyRegistration::State::failed, toggleDefault, KeyGrabResult::noPortal}));
    EXPECT_EQ(window.registration().status, KeyGrabResult::noPortal);
    EXPECT_EQ(GlobalHotkeyMonitor::desktopTrigger(1), std::nullopt) << "only a registered hot key has one";
    GlobalHotkeyMonitor::registerTogether({{&toggle, toggleDefault}, {&window, windowDefault}});
    EXPECT_FALSE(toggle.isRegistered());
    EXPECT_TRUE(hotkeyLines().empty()) << "the grabber says once that its portal is gone, not each hot key";

    grabber->setAvailable(true);
    grabber->announceChange();
    EXPECT_TRUE(toggle.isRegistered());
    EXPECT_TRUE(window.isRegistered());
    EXPECT_EQ(grabber->held().at(1), chordS);
    GlobalHotkeyMonitor::removeRegistrationObserver(observer);
}
