#include "windows/ShortcutRecorderModel.hpp"

#include "platform/FakeKeyGrabber.hpp"
#include "platform/Logger.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/UserDefaults.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

constexpr std::uint32_t control = HotkeyShortcut::controlModifier;
constexpr std::uint32_t option = HotkeyShortcut::optionModifier;
constexpr std::uint32_t shift = HotkeyShortcut::shiftModifier;
constexpr std::uint32_t command = HotkeyShortcut::commandModifier;
constexpr std::uint32_t all3 = control | option | command;

// The settings store and the two hot keys wired as the application wires them:
// a stored change re-registers both hot keys together on the next main-queue turn.
class ShortcutRecorderModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logger::setSink(log);
        for (auto [name, text] : {std::pair{"AC01", "a"}, {"AC02", "s"}, {"AC03", "d"}})
            grabber->setKeyText(name, text);
        GlobalHotkeyMonitor::setKeyGrabber(grabber);
        store.addObserver([this](ProviderSettingsStore::Property property) {
            if (property != ProviderSettingsStore::Property::toggleShortcut &&
                property != ProviderSettingsStore::Property::windowShortcut) {
                return;
            }
            queue.post([this] { registerBoth(); });
        });
        registerBoth();
    }
    void TearDown() override {
        GlobalHotkeyMonitor::setKeyGrabber(nullptr);
        Logger::setSink(nullptr);
    }

    void registerBoth() {
        GlobalHotkeyMonitor::registerTogether(
            {{&toggleMonitor, store.toggleShortcut()}, {&windowMonitor, store.windowShortcut()}});
    }

    ShortcutRecorderModel toggleRecorder() {
        return ShortcutRecorderModel(
            store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut,
            [this](const HotkeyShortcut& s) { return store.updateToggleShortcut(s); },
            [this] { store.setToggleShortcut(ProviderSettingsStore::defaultToggleShortcut); }, 1);
    }

    ManualMainQueue queue;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<FakeKeyGrabber> grabber = std::make_shared<FakeKeyGrabber>(&queue);
    ProviderSettingsStore store{UserDefaults::inMemory("recorder")};
    GlobalHotkeyMonitor toggleMonitor{1, [] {}};
    GlobalHotkeyMonitor windowMonitor{2, [] {}};
};

} // namespace

TEST_F(ShortcutRecorderModelTest, ShowsTheShortcutAndItsDefault) {
    auto recorder = toggleRecorder();
    EXPECT_EQ(recorder.buttonTitle(), "Ctrl+Alt+Super+S");
    EXPECT_EQ(recorder.buttonAccessibilityLabel(), "Shortcut Ctrl+Alt+Super+S");
    EXPECT_FALSE(recorder.isResetEnabled());
    EXPECT_EQ(recorder.resetHelp(), "Restore Default (Ctrl+Alt+Super+S)");
    EXPECT_EQ(recorder.message(), std::nullopt);
    recorder.pressRecordButton();
    EXPECT_EQ(recorder.buttonTitle(), "Type Shortcut…");
    EXPECT_EQ(recorder.buttonAccessibilityLabel(), "Recording shortcut");
    recorder.pressRecordButton();
    EXPECT_FALSE(recorder.isRecording());
    recorder.setShortcut({2, control});
    EXPECT_TRUE(recorder.isResetEnabled());
}

TEST_F(ShortcutRecorderModelTest, KeysWhileRecording) {
    auto recorder = toggleRecorder();
    EXPECT_FALSE(recorder.keyDown(0, all3)) << "nothing is taken before recording";
    recorder.pressRecordButton();

    EXPECT_TRUE(recorder.keyDown(59, control)) << "a lone Control";
    EXPECT_TRUE(recorder.keyDown(55, command)) << "a lone Super";
    EXPECT_EQ(recorder.message(), std::nullopt);
    EXPECT_TRUE(recorder.isRecording());

    EXPECT_TRUE(recorder.keyDown(0, shift));
    EXPECT_EQ(recorder.message(), "Include Ctrl, Alt or Super in the shortcut.");
    EXPECT_TRUE(recorder.keyDown(0, 0));
    EXPECT_EQ(recorder.message(), "Include Ctrl, Alt or Super in the shortcut.");

    EXPECT_TRUE(recorder.keyDown(0, all3)) << "the other slot's shortcut";
    EXPECT_EQ(recorder.message(), "The other shortcut already uses Ctrl+Alt+Super+A.");
    EXPECT_TRUE(recorder.isRecording());

    EXPECT_TRUE(recorder.keyDown(53, control)) << "Escape";
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut);
    EXPECT_EQ(recorder.message(), "The other shortcut already uses Ctrl+Alt+Super+A.")
        << "Escape keeps the last problem";

    recorder.pressRecordButton();
    EXPECT_EQ(recorder.message(), std::nullopt) << "a new recording starts clean";
    EXPECT_TRUE(recorder.keyDown(2, control | shift));
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(store.toggleShortcut(), (HotkeyShortcut{2, control | shift}));
    EXPECT_EQ(recorder.buttonTitle(), "Ctrl+Shift+D");
}

TEST_F(ShortcutRecorderModelTest, HotKeysAreReleasedWhileRecordingAndTheNewShortcutIsTakenAfter) {
    auto recorder = toggleRecorder();
    ASSERT_EQ(grabber->held().size(), 2u);
    recorder.pressRecordButton();
    EXPECT_TRUE(grabber->held().empty());
    recorder.keyDown(2, all3);
    queue.drain();
    EXPECT_EQ(grabber->held().at(1), (KeyChord{"AC03", keyModifierControl | keyModifierAlt | keyModifierSuper}));
    EXPECT_EQ(grabber->held().at(2).keyName, "AC01");
    EXPECT_EQ(recorder.message(), std::nullopt);
}

TEST_F(ShortcutRecorderModelTest, SaysWhenTheSystemRefusesTheShortcut) {
    grabber->takeByOtherProgram({"AC03", keyModifierControl | keyModifierAlt | keyModifierSuper});
    auto recorder = toggleRecorder();
    int changes = 0;
    recorder.setOnChanged([&] { ++changes; });
    recorder.pressRecordButton();
    recorder.keyDown(2, all3);
    queue.drain();
    EXPECT_GT(changes, 0);
    EXPECT_EQ(store.toggleShortcut(), (HotkeyShortcut{2, all3})) << "the shortcut stays stored";
    EXPECT_EQ(recorder.message(),
              "Ctrl+Alt+Super+D does nothing here: the key is taken by another program. Choose another shortcut.");
    EXPECT_NE(log->messages().end(),
              std::find(log->messages().begin(), log->messages().end(),
                        "hotkey.register.failed id=1 status=10 reason=the key is taken by another program"));

    recorder.pressReset();
    queue.drain();
    EXPECT_EQ(store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut);
    EXPECT_EQ(recorder.message(), std::nullopt);
    EXPECT_FALSE(recorder.isResetEnabled());
}

TEST_F(ShortcutRecorderModelTest, WithoutAnXServerTheRecorderStillRecords) {
    GlobalHotkeyMonitor::setKeyGrabber(std::make_shared<FakeKeyGrabber>(&queue, false));
    registerBoth();
    auto recorder = toggleRecorder();
    EXPECT_EQ(recorder.message(), "Global shortcuts need an X11 session; Ctrl+Alt+Super+Key 1 does nothing here.");
    recorder.pressRecordButton();
    recorder.keyDown(2, control);
    queue.drain();
    EXPECT_EQ(store.toggleShortcut(), (HotkeyShortcut{2, control}));
    EXPECT_FALSE(recorder.isRecording());
}

TEST_F(ShortcutRecorderModelTest, ResetStopsRecordingAndClearsTheProblem) {
    store.updateToggleShortcut({2, all3});
    auto recorder = toggleRecorder();
    recorder.pressRecordButton();
    recorder.keyDown(0, shift);
    ASSERT_TRUE(recorder.problem());
    recorder.pressReset();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.problem());
    EXPECT_EQ(store.toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut);
    EXPECT_EQ(recorder.buttonTitle(), "Ctrl+Alt+Super+S");
}

TEST(ShortcutRecorderModel, ModifierFlagsAndUSCharacters) {
    EXPECT_EQ(ShortcutRecorderModel::carbonModifiers(false, false, false, false), 0u);
    EXPECT_EQ(ShortcutRecorderModel::carbonModifiers(true, true, false, true), 6400u);
    EXPECT_EQ(ShortcutRecorderModel::carbonModifiers(false, false, true, false), 512u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'A'), 0u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U's'), 1u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'Z'), 6u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'1'), 18u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U' '), 49u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'\\'), 42u);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'!'), std::nullopt);
    EXPECT_EQ(ShortcutRecorderModel::keyCodeOfUSCharacter(U'ö'), std::nullopt);
}
