// The Diagnostics, sync and About panes, driven through their widgets.
#include "windows/AboutSettingsPane.hpp"
#include "windows/CloudSyncSettingsPane.hpp"
#include "windows/DiagnosticsPaneContent.hpp"
#include "windows/DiagnosticsSettingsPane.hpp"

#include "sync/StatusCloudSyncStore.hpp"
#include "tests/windows/WindowsTestSupport.hpp"
#include "windows/AboutPaneContent.hpp"
#include "windows/CloudSyncPaneContent.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override { brindleaf::testing::windowsApplication(); }

    // A refresh's snapshot, checked at the given time.
    void showErrors(std::vector<std::string> codexErrors, std::int64_t codexStale = 0, double checkedAt = 100) {
        fixture.model->setSnapshot(AgentStatusSnapshot::make(
            {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, {}, codexStale, checkedAt,
                                    std::move(codexErrors)),
             ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt, {}, 0, checkedAt, {"claude broke"})},
            checkedAt));
        fixture.drain();
    }
    static void sendMouse(QWidget* widget, QEvent::Type type) {
        const QPointF at = QRectF(widget->rect()).center();
        QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &event);
    }
    static std::vector<std::string> ids(const std::vector<DiagnosticsPaneContent::ErrorItem>& items) {
        std::vector<std::string> result;
        for (const auto& item : items) result.push_back(item.id + (item.isRead ? " read" : ""));
        return result;
    }

    brindleaf::testing::PaneFixture fixture;
};

TEST_F(PaneTest, DiagnosticsListsErrorsByPositionAndMarksThemAllRead) {
    fixture.settings->setProvider(true, ProviderCatalog::all()[0]);
    fixture.settings->setProvider(true, ProviderCatalog::all()[1]);
    DiagnosticsSettingsPane pane(fixture.settings, fixture.model);
    fixture.drain();
    EXPECT_FALSE(pane.findChild<QLabel*>("noErrors")->isHidden());
    EXPECT_FALSE(pane.findChild<QPushButton*>("markAllAsRead")->isVisibleTo(&pane)) << "no button without errors";

    fixture.settings->acknowledgeErrors("Codex", {"b"});
    showErrors({"a", "b", "a"});
    EXPECT_EQ(ids(DiagnosticsPaneContent::errorItems(*fixture.model)),
              (std::vector<std::string>{"codex-0-a", "codex-1-b read", "codex-2-a", "claude-0-claude broke"}));
    EXPECT_EQ(pane.findChild<QWidget*>("codex-0-a")->findChild<QLabel*>("newMark")->text(), "New");
    EXPECT_TRUE(pane.findChild<QWidget*>("codex-1-b")->findChild<QLabel*>("newMark")->isHidden());
    EXPECT_TRUE(pane.findChild<QLabel*>("noErrors")->isHidden());
    EXPECT_EQ(pane.findChild<QWidget*>("codex-0-a")->findChild<QLabel*>("errorMessage")->textFormat(), Qt::PlainText);

    fixture.folderQuery->withoutAccess = {"claude"};
    EXPECT_EQ(ids(DiagnosticsPaneContent::errorItems(*fixture.model)).size(), 3u) << "no errors of unreadable folders";

    auto* markAll = pane.findChild<QPushButton*>("markAllAsRead");
    ASSERT_TRUE(markAll->isEnabled());
    markAll->click();
    fixture.drain();
    EXPECT_EQ(ids(DiagnosticsPaneContent::errorItems(*fixture.model)),
              (std::vector<std::string>{"codex-0-a read", "codex-1-b read", "codex-2-a read"}));
    EXPECT_FALSE(pane.findChild<QPushButton*>("markAllAsRead")->isEnabled());
}

TEST_F(PaneTest, DiagnosticsKeepsSelectionFocusAndAPressThroughUnchangedUpdatesAndShowsAChangedError) {
    fixture.settings->setProvider(true, ProviderCatalog::all()[0]);
    fixture.settings->setProvider(false, ProviderCatalog::all()[1]); // Codex's errors alone
    DiagnosticsSettingsPane pane(fixture.settings, fixture.model);
    pane.show();
    showErrors({"disk <b>full</b>"});
    QPointer<QLabel> message = pane.findChild<QWidget*>("codex-0-disk <b>full</b>")->findChild<QLabel*>("errorMessage");
    QPointer<QPushButton> markAll = pane.findChild<QPushButton*>("markAllAsRead");
    message->setSelection(5, 3);
    ASSERT_EQ(message->selectedText(), "<b>");
    markAll->setFocus();
    sendMouse(markAll, QEvent::MouseButtonPress);

    showErrors({"disk <b>full</b>"}, 0, 101.5); // the next poll finds the same
    ASSERT_TRUE(message) << "the row is kept";
    EXPECT_EQ(message->selectedText(), "<b>");
    ASSERT_TRUE(markAll);
    EXPECT_EQ(pane.focusWidget(), markAll.data());
    sendMouse(markAll, QEvent::MouseButtonRelease);
    fixture.drain();
    EXPECT_TRUE(fixture.settings->isErrorAcknowledged("Codex", "disk <b>full</b>")) << "the click spanned the poll";
    EXPECT_TRUE(message->parentWidget()->findChild<QLabel*>("newMark")->isHidden());

    showErrors({"disk full again"}, 0, 103);
    EXPECT_FALSE(message) << "the old error's row is gone";
    QWidget* changed = pane.findChild<QWidget*>("codex-0-disk full again");
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->findChild<QLabel*>("errorMessage")->text(), "disk full again");
    EXPECT_FALSE(changed->findChild<QLabel*>("newMark")->isHidden());
    EXPECT_TRUE(markAll->isEnabled());

    showErrors({}, 0, 104);
    EXPECT_EQ(pane.findChild<QWidget*>("codex-0-disk full again"), nullptr);
    EXPECT_FALSE(pane.findChild<QLabel*>("noErrors")->isHidden());
    EXPECT_FALSE(markAll->isVisibleTo(&pane));
}

TEST_F(PaneTest, DiagnosticsStaleCountsAndSampleSwitch) {
    fixture.settings->setProvider(true, ProviderCatalog::all()[0]);
    DiagnosticsSettingsPane pane(fixture.settings, fixture.model);
    fixture.drain();
    EXPECT_EQ(pane.findChild<QLabel*>("stale-codex")->text(), "0");
    EXPECT_FALSE(pane.findChild<QPushButton*>("resetCount")->isEnabled());
    showErrors({}, 3);
    EXPECT_EQ(pane.findChild<QLabel*>("stale-codex")->text(), "3");
    pane.findChild<QPushButton*>("resetCount")->click();
    fixture.drain();
    EXPECT_EQ(pane.findChild<QLabel*>("stale-codex")->text(), "0");

    pane.findChild<QCheckBox*>("showSampleData")->click();
    EXPECT_TRUE(fixture.settings->isShowingSampleData());
}

class RecordingStore final : public StatusCloudSyncStore {
public:
    void save(const StatusPayload&) override {}
    void ensureSubscription() override {}
    void deleteStatus() override {}
};

TEST_F(PaneTest, SyncSwitchWritesOnlyOnChangeAndShowsTheHealthWhileOn) {
    CloudSyncSettingsPane withoutStore(fixture.settings, fixture.cloudSync, fixture.cloudSyncChanges,
                                       [] { return 0.0; });
    EXPECT_FALSE(withoutStore.findChild<QCheckBox*>("cloudSyncEnabled")->isEnabled());
    EXPECT_FALSE(withoutStore.findChild<QWidget*>("syncUnavailable")->isHidden());
    EXPECT_TRUE(withoutStore.findChild<QLabel*>("lastSynced")->parentWidget()->isHidden());

    auto controller = brindleaf::testing::makeSyncController(fixture.queue, std::make_shared<RecordingStore>());
    auto changes = CloudSyncChangeFanOut::attach(*controller);
    int shellHeard = 0;
    changes->addObserver([&] { ++shellHeard; });
    CloudSyncSettingsPane pane(fixture.settings, controller, changes, [] { return 0.0; });
    auto* toggle = pane.findChild<QCheckBox*>("cloudSyncEnabled");
    EXPECT_TRUE(toggle->isEnabled());
    EXPECT_TRUE(pane.findChild<QWidget*>("syncUnavailable")->isHidden());
    EXPECT_EQ(pane.findChild<QLabel*>("lastSynced")->text(), "Not yet");

    int writes = 0;
    fixture.settings->addObserver([&](ProviderSettingsStore::Property property) {
        if (property == ProviderSettingsStore::Property::isCloudSyncEnabled) ++writes;
    });
    toggle->setChecked(true); // already on: nothing changes
    EXPECT_EQ(writes, 0);
    toggle->click();
    fixture.drain();
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(fixture.defaults->boolValue("cloudSyncEnabled"), false);
    EXPECT_TRUE(pane.findChild<QLabel*>("lastSynced")->parentWidget()->isHidden());

    controller->setEnabled(false);
    fixture.drain();
    EXPECT_GE(shellHeard, 1) << "the shell hears the controller too";

    StatusCloudSyncHealth failed;
    failed.lastFailureMessage = "<b>Quota</b> exceeded";
    const auto on = CloudSyncPaneContent::shown(true, true, failed, 0);
    EXPECT_EQ(on.lastSynced, "Not yet");
    EXPECT_EQ(on.failure, "<b>Quota</b> exceeded");
    EXPECT_FALSE(CloudSyncPaneContent::shown(true, false, failed, 0).failure);
    EXPECT_FALSE(CloudSyncPaneContent::shown(false, true, failed, 0).lastSynced);
}

class FakeUpdater final : public AboutUpdater {
public:
    void checkForUpdates() override { ++checks; }
    bool automaticallyChecksForUpdates() override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override {
        if (observer) observer(); // told before it is stored, as the software updater does
        automatic = on;
    }
    ObserverID addObserver(std::function<void()> o) override {
        observer = std::move(o);
        return 1;
    }
    void removeObserver(ObserverID) override { observer = nullptr; }
    int checks = 0;
    bool automatic = true;
    std::function<void()> observer;
};

TEST_F(PaneTest, AboutShowsTheVersionAndOpensOnlyHttpsLinks) {
    EXPECT_EQ(AboutPaneContent::versionString(std::nullopt, std::nullopt), "Version 1.0 (1)");
    EXPECT_EQ(AboutPaneContent::versionString("1.2.0", "7"), "Version 1.2.0 (7)");
    EXPECT_EQ(AboutPaneContent::productURL("quorvale.com"), "https://quorvale.com/en/brindleaf/");
    EXPECT_EQ(AboutPaneContent::privacyPolicyURL("bad host/"), std::nullopt);
    EXPECT_FALSE(AboutPaneContent::isOpenableLink("http://quorvale.com/"));
    EXPECT_FALSE(AboutPaneContent::isOpenableLink("https://"));

    auto updater = std::make_shared<FakeUpdater>();
    std::vector<std::string> opened;
    AboutSettingsPane pane(
        {updater, "1.0.0", "", "quorvale.com", [&](const std::string& url) { opened.push_back(url); }});
    EXPECT_EQ(pane.findChild<QLabel*>("version")->text(), "Version 1.0.0 (1)");
    pane.findChild<QPushButton*>("support")->click();
    pane.findChild<QPushButton*>("privacyPolicy")->click();
    EXPECT_EQ(opened, (std::vector<std::string>{"https://quorvale.com/en/brindleaf/",
                                                "https://quorvale.com/en/brindleaf-privacy/"}));
    pane.findChild<QPushButton*>("checkForUpdates")->click();
    EXPECT_EQ(updater->checks, 1);
    auto* automatic = pane.findChild<QCheckBox*>("automaticChecks");
    EXPECT_TRUE(automatic->isChecked());
    automatic->click();
    EXPECT_FALSE(updater->automatic);
    updater->setAutomaticallyChecksForUpdates(true);
    brindleaf::testing::settle();
    EXPECT_TRUE(automatic->isChecked());
}

} // namespace
