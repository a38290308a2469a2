// The texts the program shows or prints name only what this build uses: this
// computer and its own status record store, never another platform's computer
// or cloud service, and keys by the names this keyboard gives them.
#include "app/HeadlessCloudModes.hpp"
#include "app/shell/SessionNotifier.hpp"
#include "platform/CloudRecordStoreError.hpp"
#include "presentation/DashboardLayout.hpp"
#include "presentation/SampleStatusSnapshot.hpp"
#include "presentation/SessionNotificationRules.hpp"
#include "presentation/StatusWording.hpp"
#include "services/HotkeyShortcut.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "sync/CloudKitStatusErrorPresenter.hpp"
#include "sync/CloudKitStatusRuntimeSupport.hpp"
#include "sync/CloudKitStatusStoreError.hpp"
#include "sync/StatusPayload.hpp"
#include "sync/StatusPayloadBuilder.hpp"
#include "sync/StatusPayloadCodec.hpp"
#include "windows/AboutPaneContent.hpp"
#include "windows/AgentsPaneContent.hpp"
#include "windows/CloudSyncPaneContent.hpp"
#include "windows/DiagnosticsPaneContent.hpp"
#include "windows/GeneralPaneContent.hpp"
#include "windows/SettingsWindowContent.hpp"
#include "windows/ShortcutRecorderModel.hpp"
#include "windows/WelcomeContent.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {
namespace {

// The words of another platform a text holds as words of their own (any
// case), in the order of this list; empty when none.
std::string otherPlatformWords(const std::string& text) {
    static const char* const words[] = {"mac",
                                        "macs",
                                        "macos",
                                        "os x",
                                        "icloud",
                                        "cloudkit",
                                        "iphone",
                                        "ipad",
                                        "apple watch",
                                        "apple",
                                        "finder",
                                        "menu bar",
                                        "provisioning profile"};
    auto lower = [](std::string value) {
        for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return value;
    };
    auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    const std::string lowered = lower(text);
    std::string found;
    for (const char* word : words) {
        const std::string_view w(word);
        for (auto at = lowered.find(w); at != std::string::npos; at = lowered.find(w, at + 1)) {
            const bool starts = at == 0 || !isWordChar(lowered[at - 1]);
            const bool ends = at + w.size() == lowered.size() || !isWordChar(lowered[at + w.size()]);
            if (!starts || !ends) continue;
            found += (found.empty() ? "" : ", ") + text.substr(at, w.size());
            break;
        }
    }
    return found;
}

TEST(UserVisibleText, TheMatcherFindsThePlatformWordsAndOnlyThem) {
    EXPECT_EQ(otherPlatformWords("Your Mac\u2019s status"), "Mac");
    EXPECT_EQ(otherPlatformWords("Sign in to iCloud. Create a macOS provisioning profile"),
              "macOS, iCloud, provisioning profile");
    EXPECT_EQ(otherPlatformWords("for com.quorvale.Brindleaf.mac"), "mac");
    EXPECT_EQ(otherPlatformWords("This machine's macros, the tray panel"), "");
}

// The key symbols of another platform's keyboard a text holds, in the order
// of this list; empty when none.
std::string otherPlatformKeySymbols(const std::string& text) {
    static const char* const symbols[] = {"⌘", "⌥", "⌃", "⇧", "⎋", "⌫", "⌦", "↩", "⇥", "⇞", "⇟", "↖", "↘"};
    std::string found;
    for (const char* symbol : symbols) {
        if (text.find(symbol) != std::string::npos) found += symbol;
    }
    return found;
}

// Every text a shortcut is shown in: the shortcut itself with each modifier
// mask and each key of a PC keyboard, the recorder's button, help and
// messages, and the dashboard's floating-window button.
std::vector<std::string> shortcutTexts() {
    std::vector<std::string> texts;
    for (std::uint32_t keyCode = 0; keyCode < 128; ++keyCode) {
        for (std::uint32_t mask = 0; mask < 16; ++mask) {
            std::uint32_t modifiers = 0;
            if (mask & 1) modifiers |= HotkeyShortcut::controlModifier;
            if (mask & 2) modifiers |= HotkeyShortcut::optionModifier;
            if (mask & 4) modifiers |= HotkeyShortcut::shiftModifier;
            if (mask & 8) modifiers |= HotkeyShortcut::commandModifier;
            texts.push_back(HotkeyShortcut{keyCode, modifiers}.displayString());
        }
    }
    texts.emplace_back(ShortcutRecorderModel::needsModifierMessage);
    texts.emplace_back(ShortcutRecorderModel::recordingTitle);
    texts.emplace_back(ShortcutRecorderModel::accessibilityHint);
    const HotkeyShortcut panel{1, 6400};
    const HotkeyShortcut window{0, 6400};
    for (int status :
         {KeyGrabResult::badAccess, KeyGrabResult::noServer, KeyGrabResult::noSuchKey, KeyGrabResult::noPortal, 2}) {
        texts.push_back(ShortcutRecorderModel::registrationMessage({HotkeyRegistration::State::failed, panel, status})
                            .value_or(""));
    }
    for (const char* trigger : {"", "Meta+Ctrl+Alt+A"}) {
        texts.push_back(ShortcutRecorderModel::desktopTriggerMessage(trigger, panel).value_or(""));
    }
    ShortcutRecorderModel recorder(
        {49, HotkeyShortcut::commandModifier}, panel,
        [&](const HotkeyShortcut& pressed) {
            return pressed == window ? ShortcutChangeResult::duplicate : ShortcutChangeResult::accepted;
        },
        [] {});
    texts.push_back(recorder.buttonTitle());
    texts.push_back(recorder.buttonAccessibilityLabel());
    texts.push_back(recorder.resetHelp());
    recorder.pressRecordButton();
    recorder.keyDown(window.keyCode, window.carbonModifiers);
    texts.push_back(recorder.message().value_or(""));
    EXPECT_NE(texts.back().find("already uses Ctrl+Alt+Super+"), std::string::npos) << texts.back();
    texts.push_back(DashboardLayout::floatingWindowButtonTitle(window));
    return texts;
}

TEST(UserVisibleText, TheSymbolMatcherFindsOtherKeyboardsSymbols) {
    EXPECT_EQ(otherPlatformKeySymbols("Press ⌃⌥⌘S or ⇧↩"), "⌘⌥⌃⇧↩");
    EXPECT_EQ(otherPlatformKeySymbols("Ctrl+Alt+Super+S, Shift+Return, Left →"), "");
}

TEST(UserVisibleText, NoShortcutTextCarriesAnotherKeyboardsSymbols) {
    for (const std::string& text : shortcutTexts()) EXPECT_EQ(otherPlatformKeySymbols(text), "") << text;
}

TEST(UserVisibleText, NoTextNamesAnotherPlatformsComputerOrCloud) {
    std::vector<std::string> texts = shortcutTexts();
    const Date now = 1.8e9;

    // Every sentence the cloud operations' errors are shown as, in the
    // settings pane and by the command-line modes.
    for (int code = 0; code <= 30; ++code) {
        texts.push_back(
            CloudKitStatusErrorPresenter::message(CloudRecordStoreError(static_cast<CloudErrorCode>(code))));
    }
    for (auto kind :
         {CloudKitStatusStoreError::Kind::missingPayloadData, CloudKitStatusStoreError::Kind::stalePayload}) {
        texts.push_back(CloudKitStatusErrorPresenter::message(CloudKitStatusStoreError(kind)));
    }
    texts.push_back(CloudKitStatusErrorPresenter::message(std::exception_ptr()));
    texts.push_back(CloudKitStatusRuntimeSupport::unavailableMessage());
    texts.push_back(HeadlessCloudModes::missingEntitlementMessage);

    // The sample data, as the dashboard and the payload carry it.
    texts.push_back(StatusPayloadCodec::encode(StatusPayload::sample()));
    for (const auto& session : makeSampleStatusSnapshot(now).activeSessions)
        texts.push_back(StatusPayloadCodec::toJSON(makeSessionStatusPayload(session)).dump());
    for (const auto& provider : makeSampleStatusSnapshot(now).providerSnapshots)
        texts.push_back(provider.providerName + " " + provider.statusEvidence.value_or(""));

    // The status wording of every mood.
    for (auto mood : {StatusWording::Mood::working, StatusWording::Mood::waiting, StatusWording::Mood::idle,
                      StatusWording::Mood::unavailable, StatusWording::Mood::notUpdated}) {
        texts.push_back(StatusWording::title(mood));
        texts.push_back(StatusWording::summary(mood, 2, 1, now - 600, now));
        texts.push_back(StatusWording::summary(mood, 0, 0, std::nullopt, now));
    }
    texts.push_back(StatusWording::staleSessionsHelp());
    // The desktop notifications.
    texts.push_back(SessionNotificationRules::needsYouSummary("Claude Code"));
    texts.push_back(SessionNotificationRules::finishedSummary("Codex"));
    texts.push_back(SessionNotificationRules::groupSummary(3));

    // The settings window's tabs and panes, the welcome window, the login item.
    for (SettingsPane pane : allSettingsPanes) texts.emplace_back(SettingsWindowContent::tabLabel(pane));
    for (std::string_view text : {CloudSyncPaneContent::toggleTitle,
                                  CloudSyncPaneContent::unavailableText,
                                  CloudSyncPaneContent::lastSyncedTitle,
                                  CloudSyncPaneContent::notYetText,
                                  CloudSyncPaneContent::footer,
                                  GeneralPaneContent::openAtLoginTitle,
                                  GeneralPaneContent::trayIconHeader,
                                  GeneralPaneContent::shortcutsHeader,
                                  GeneralPaneContent::shortcutsFooter,
                                  GeneralPaneContent::panelShortcutTitle,
                                  GeneralPaneContent::windowShortcutTitle,
                                  GeneralPaneContent::notificationsHeader,
                                  GeneralPaneContent::notifyWhenWaitingTitle,
                                  GeneralPaneContent::notifyWhenFinishedTitle,
                                  GeneralPaneContent::notificationSoundTitle,
                                  std::string_view(SessionNotifier::showAllLabel),
                                  std::string_view(SessionNotifier::goToSessionLabel),
                                  AgentsPaneContent::header,
                                  AgentsPaneContent::readOnlyFooter,
                                  AgentsPaneContent::lastAgentFooter,
                                  DiagnosticsPaneContent::staleFooter,
                                  DiagnosticsPaneContent::errorsFooter,
                                  DiagnosticsPaneContent::sampleDataFooter,
                                  AboutPaneContent::tagline,
                                  AboutPaneContent::nonAffiliationLine,
                                  WelcomeContent::tagline,
                                  WelcomeContent::accessText,
                                  WelcomeContent::openAtLoginTitle,
                                  WelcomeContent::syncNote,
                                  LaunchAtLoginController::addFailedMessage,
                                  LaunchAtLoginController::removeFailedMessage}) {
        texts.emplace_back(text);
    }

    for (const std::string& text : texts) {
        EXPECT_EQ(otherPlatformWords(text), "") << text;
        EXPECT_EQ(otherPlatformKeySymbols(text), "") << text;
    }
}

} // namespace
} // namespace brindleaf
