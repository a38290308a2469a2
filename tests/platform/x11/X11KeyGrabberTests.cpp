#include "platform/X11KeyGrabber.hpp"

#include "platform/ManualMainQueue.hpp"
#include "tests/support/OtherX11Client.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace brindleaf;
using ::testing::ElementsAre;

namespace {

constexpr std::uint32_t sentinelID = 99;
const KeyChord chordS{"AC02", keyModifierControl | keyModifierAlt | keyModifierSuper};
const KeyChord chordA{"AC01", keyModifierControl | keyModifierAlt | keyModifierSuper};
// Pressed after the keys under test: once it arrives, every earlier press has.
const KeyChord sentinelChord{"AB01", keyModifierControl | keyModifierAlt | keyModifierSuper};

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

bool waitFor(ManualMainQueue& queue, const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        queue.drain();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class X11KeyGrabberTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("DISPLAY")) << "run inside tools/with-xvfb.sh";
        run("setxkbmap us");
        grabber = std::make_unique<X11KeyGrabber>(queue);
        ASSERT_TRUE(grabber->isAvailable());
        grabber->setPressHandler([this](std::uint32_t id) { pressed.push_back(id); });
        ASSERT_TRUE(grabber->grab(sentinelID, sentinelChord).ok());
    }

    // Presses the keys, then the sentinel, and returns the ids that fired before it.
    std::vector<std::uint32_t> pressesOf(const std::string& xdotoolArguments) {
        pressed.clear();
        run("xdotool " + xdotoolArguments + " key ctrl+alt+super+z");
        EXPECT_TRUE(waitFor(queue, [this] { return !pressed.empty() && pressed.back() == sentinelID; }));
        pressed.pop_back();
        return pressed;
    }

    ManualMainQueue queue;
    std::unique_ptr<X11KeyGrabber> grabber;
    std::vector<std::uint32_t> pressed;
};

} // namespace

TEST_F(X11KeyGrabberTest, ChordFiresOnceAlsoWithNumLockOrCapsLockOn) {
    ASSERT_TRUE(grabber->grab(1, chordS).ok());
    EXPECT_THAT(pressesOf("key ctrl+alt+super+s"), ElementsAre(1u));
    EXPECT_THAT(pressesOf("key Num_Lock key ctrl+alt+super+s key Num_Lock"), ElementsAre(1u));
    EXPECT_THAT(pressesOf("key Caps_Lock key ctrl+alt+super+s key Caps_Lock"), ElementsAre(1u));
    EXPECT_THAT(pressesOf("key Num_Lock key Caps_Lock key ctrl+alt+super+s key Caps_Lock key Num_Lock"),
                ElementsAre(1u));
    EXPECT_THAT(pressesOf("key ctrl+alt+s key ctrl+alt+shift+super+s key super+s"), ElementsAre())
        << "other modifiers are other chords";
}

TEST_F(X11KeyGrabberTest, HeldKeyRepeatsAreDropped) {
    ASSERT_TRUE(grabber->grab(1, chordS).ok());
    // Held past the server's repeat delay (660 ms by default), the key repeats as further presses;
    // should it not repeat, the test shows nothing either way.
    EXPECT_THAT(pressesOf("keydown ctrl+alt+super+s sleep 1 keyup s keyup ctrl+alt+super"), ElementsAre(1u));
    EXPECT_THAT(pressesOf("key ctrl+alt+super+s"), ElementsAre(1u)) << "a new press after the release fires";
}

TEST_F(X11KeyGrabberTest, AReplacedOrReleasedChordIsSilent) {
    ASSERT_TRUE(grabber->grab(1, chordS).ok());
    ASSERT_TRUE(grabber->grab(1, chordA).ok());
    EXPECT_THAT(pressesOf("key ctrl+alt+super+s"), ElementsAre());
    EXPECT_THAT(pressesOf("key ctrl+alt+super+a"), ElementsAre(1u));
    grabber->release(1);
    EXPECT_THAT(pressesOf("key ctrl+alt+super+a"), ElementsAre());
}

TEST_F(X11KeyGrabberTest, TwoIdsOnOneChordKeepTheGrabUntilBothLetGo) {
    ASSERT_TRUE(grabber->grab(1, chordA).ok());
    ASSERT_TRUE(grabber->grab(2, chordA).ok());
    grabber->release(1);
    EXPECT_THAT(pressesOf("key ctrl+alt+super+a"), ElementsAre(2u));
}

TEST_F(X11KeyGrabberTest, AChordHeldByAnotherClientIsRefusedWithBadAccessAndNothingStaysGrabbed) {
    {
        brindleaf::testing::OtherX11Client other;
        other.grabWithAnyModifiers("AC02");
        EXPECT_EQ(grabber->grab(1, chordS).status, KeyGrabResult::badAccess);
    }
    // Once the other client is gone the chord is free, so no partial grab of ours was left behind.
    EXPECT_TRUE(waitFor(queue, [this] { return grabber->grab(1, chordS).ok(); }));
    EXPECT_THAT(pressesOf("key ctrl+alt+super+s"), ElementsAre(1u));
    EXPECT_EQ(grabber->grab(1, {"I999", keyModifierControl}).status, KeyGrabResult::noSuchKey);
}

TEST_F(X11KeyGrabberTest, KeyTextFollowsTheLayout) {
    EXPECT_EQ(grabber->keyText("AC02"), "s");
    EXPECT_EQ(grabber->keyText("AB01"), "z");
    EXPECT_EQ(grabber->keyText("ESC"), std::nullopt);
    EXPECT_EQ(grabber->keyText("RTRN"), std::nullopt);
    EXPECT_EQ(grabber->keyNameOfKeycode(39), "AC02") << "evdev keycodes";
    EXPECT_EQ(grabber->keyText("I999"), std::nullopt);
    run("setxkbmap de");
    EXPECT_TRUE(waitFor(queue, [this] { return grabber->keyText("AB01") == "y"; }));
    EXPECT_EQ(grabber->keyText("AC10"), "ö");
    run("setxkbmap us");
    EXPECT_TRUE(waitFor(queue, [this] { return grabber->keyText("AB01") == "z"; }));
}

TEST(X11KeyGrabberWithoutServer, EveryGrabAnswersNoServer) {
    ManualMainQueue queue;
    X11KeyGrabber grabber(queue, ":4711");
    EXPECT_FALSE(grabber.isAvailable());
    EXPECT_EQ(grabber.grab(1, chordS).status, KeyGrabResult::noServer);
    grabber.release(1);
    EXPECT_EQ(grabber.keyText("AC02"), std::nullopt);
    EXPECT_EQ(grabber.keyNameOfKeycode(39), std::nullopt);
}
