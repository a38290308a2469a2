#include "platform/X11KeyGrabber.hpp"

#include "platform/ManualMainQueue.hpp"

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

// A second X client, holding a key of its own.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(connection_); }

    void grabWithAnyModifiers(const char* keyName) {
        xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr);
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* keymap = xkb_x11_keymap_new_from_device(
            context, connection_, xkb_x11_get_core_keyboard_device_id(connection_), XKB_KEYMAP_COMPILE_NO_FLAGS);
        const auto keycode = static_cast<xcb_keycode_t>(xkb_keymap_key_by_name(keymap, keyName));
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        auto cookie = xcb_grab_key_checked(connection_, 0, root_, XCB_MOD_MASK_ANY, keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        ASSERT_EQ(xcb_request_check(connection_, cookie), nullptr);
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
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
        OtherClient other;
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
