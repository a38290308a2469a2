// The texts the program shows or prints name only what this build uses: this
// computer and its own status record store, never another platform's computer
// or cloud service.
#include "app/HeadlessCloudModes.hpp"
#include "platform/CloudRecordStoreError.hpp"
#include "presentation/SampleStatusSnapshot.hpp"
#include "presentation/StatusWording.hpp"
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

TEST(UserVisibleText, NoTextNamesAnotherPlatformsComputerOrCloud) {
    std::vector<std::string> texts;
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

    for (const std::string& text : texts) EXPECT_EQ(otherPlatformWords(text), "") << text;
}

} // namespace
} // namespace brindleaf
