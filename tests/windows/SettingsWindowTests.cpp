#include "windows/SettingsWindowController.hpp"

#include "tests/windows/WindowsTestSupport.hpp"
#include "windows/GeneralPaneContent.hpp"
#include "windows/GeneralSettingsPane.hpp"
#include "windows/MenuBarIconPreview.hpp"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::settle;

namespace {

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override { brindleaf::testing::windowsApplication(); }

    SettingsWindowController::Collaborators collaborators() { return fixture.collaborators(); }
    QWidget* pane(SettingsWindowController& controller, const char* name) {
        return controller.window()->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    }

    brindleaf::testing::PaneFixture fixture;
};

TEST_F(SettingsWindowTest, ShowSelectsTheGivenPaneWhetherNewOrOpenAndOtherwiseKeepsTheTab) {
    SettingsWindowController fresh(collaborators());
    EXPECT_EQ(fresh.window(), nullptr);
    fresh.show(SettingsPane::diagnostics);
    EXPECT_EQ(fresh.selectedPane(), SettingsPane::diagnostics);
    EXPECT_EQ(fresh.window()->windowTitle(), "Diagnostics");

    SettingsWindowController controller(collaborators());
    controller.show();
    QWidget* window = controller.window();
    EXPECT_EQ(controller.selectedPane(), SettingsPane::general);
    EXPECT_EQ(window->windowTitle(), "General");
    controller.show(SettingsPane::diagnostics);
    EXPECT_EQ(controller.selectedPane(), SettingsPane::diagnostics);
    EXPECT_TRUE(pane(controller, "diagnostics")->isVisible());
    EXPECT_FALSE(pane(controller, "general")->isVisible());

    window->close();
    EXPECT_FALSE(window->isVisible());
    controller.show();
    EXPECT_EQ(controller.window(), window) << "the window is kept when closed";
    EXPECT_EQ(controller.selectedPane(), SettingsPane::diagnostics);
    EXPECT_EQ(window->windowTitle(), "Diagnostics");
}

TEST_F(SettingsWindowTest, PanesAre520WideAndTheWindowFollowsTheSelectedPanesHeight) {
    SettingsWindowController controller(collaborators());
    controller.show(SettingsPane::general);
    settle();
    for (SettingsPane each : allSettingsPanes) {
        controller.show(each);
        settle();
        QWidget* shown = pane(controller, std::string(toString(each)).c_str());
        EXPECT_EQ(shown->width(), 520);
        EXPECT_EQ(controller.window()->height(), controller.window()->sizeHint().height());
        EXPECT_LT(shown->geometry().bottom(), controller.window()->height()) << "the pane is not cut off";
    }
    controller.show(SettingsPane::general);
    const int generalHeight = controller.window()->height();
    controller.show(SettingsPane::about);
    EXPECT_NE(controller.window()->height(), generalHeight);
}

TEST_F(SettingsWindowTest, NoControlIsFocusedAfterShowingOrSwitchingTabs) {
    SettingsWindowController controller(collaborators());
    controller.show();
    settle();
    auto* openAtLogin = controller.window()->findChild<QCheckBox*>("openAtLogin");
    ASSERT_NE(openAtLogin, nullptr);
    openAtLogin->setFocus();
    auto* tabs = controller.window()->findChild<QToolBar*>("settingsTabs");
    auto* preview = controller.window()->findChild<MenuBarIconPreview*>("iconPreview");
    EXPECT_TRUE(preview->isAnimating());
    for (const char* name : {"agents", "general"}) {
        tabs->findChild<QAction*>(name)->trigger();
        settle();
        QWidget* focused = controller.window()->focusWidget();
        EXPECT_TRUE(focused == nullptr || focused == controller.window()) << name;
        EXPECT_EQ(preview->isAnimating(), std::string(name) == "general") << "the preview runs only while shown";
    }
    EXPECT_EQ(controller.window()->windowTitle(), "General");
}

TEST_F(SettingsWindowTest, OpenAtLoginShowsTheControllersStateAfterEveryRefusedChange) {
    auto refusing = brindleaf::testing::refusingLaunchAtLogin(fixture.dir);
    GeneralSettingsPane pane(fixture.settings, refusing);
    auto* openAtLogin = pane.findChild<QCheckBox*>("openAtLogin");
    auto* error = pane.findChild<QLabel*>("loginError");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        openAtLogin->click();
        settle();
        EXPECT_FALSE(refusing->isEnabled());
        EXPECT_FALSE(openAtLogin->isChecked()) << "nothing was registered";
        EXPECT_FALSE(error->isHidden());
        EXPECT_EQ(error->text().toStdString(), LaunchAtLoginController::addFailedMessage);
    }
}

TEST_F(SettingsWindowTest, TheTrayIsNamedWhereTheIconAndItsPanelLive) {
    SettingsWindowController controller(collaborators());
    controller.show();
    QStringList texts;
    for (auto* label : controller.window()->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains("Tray Icon"));
    EXPECT_TRUE(texts.contains("Show Tray Panel"));
    EXPECT_TRUE(texts.join('\n').contains("hides the warning in the tray panel until"));
    EXPECT_FALSE(texts.join('\n').contains("menu bar", Qt::CaseInsensitive));
}

TEST_F(SettingsWindowTest, ClosingTheWindowDoesNotQuit) {
    SettingsWindowController controller(collaborators());
    controller.show();
    EXPECT_FALSE(controller.window()->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(controller.window()->testAttribute(Qt::WA_DeleteOnClose));
}

// Ctrl+W closes the window as its close button does, but not while a
// shortcut is being recorded: the recorder takes the press.
TEST_F(SettingsWindowTest, ControlWClosesTheWindowUnlessAShortcutIsBeingRecorded) {
    SettingsWindowController controller(collaborators());
    controller.show();
    QWidget* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_W);
    EXPECT_TRUE(window->isVisible()) << "only Ctrl+W closes";
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());

    controller.show(SettingsPane::general);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto* recorder = window->findChild<QPushButton*>("shortcutButton");
    ASSERT_NE(recorder, nullptr);
    recorder->click();
    ASSERT_EQ(recorder->text().toStdString(), "Type Shortcut…");
    QTest::keyClick(recorder, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(recorder->text().toStdString(), "Type Shortcut…") << "the recorder took Ctrl+W";
}

// Resets: each one change to both shortcuts, which are never seen equal.
TEST(ShortcutResetTest, ResetMovesTheOtherShortcutOutOfTheWayInOneChange) {
    const HotkeyShortcut panelDefault{1, 6400}, windowDefault{0, 6400}, other{2, 6400};
    struct Case {
        const char* name;
        HotkeyShortcut toggle, window;
        bool panelReset;
        HotkeyShortcut expectedToggle, expectedWindow;
    };
    const Case cases[] = {
        {"panel reset, window holds panel default", other, panelDefault, true, panelDefault, windowDefault},
        {"window reset, panel holds window default", windowDefault, other, false, panelDefault, windowDefault},
        {"reset leaves another shortcut alone", other, HotkeyShortcut{3, 6400}, true, panelDefault, {3, 6400}},
        {"swapped, then one reset", windowDefault, panelDefault, true, panelDefault, windowDefault},
        {"swapped, then the other reset", windowDefault, panelDefault, false, panelDefault, windowDefault},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        brindleaf::testing::SettingsFixture fixture;
        ProviderSettingsStore& store = *fixture.settings;
        store.setShortcuts(c.toggle, c.window);
        int announcements = 0;
        std::vector<std::pair<HotkeyShortcut, HotkeyShortcut>> seen;
        store.addObserver([&](ProviderSettingsStore::Property) {
            ++announcements;
            seen.emplace_back(store.toggleShortcut(), store.windowShortcut());
        });
        if (c.panelReset) {
            GeneralPaneContent::resetPanelShortcut(store);
        } else {
            GeneralPaneContent::resetWindowShortcut(store);
        }
        EXPECT_EQ(store.toggleShortcut(), c.expectedToggle);
        EXPECT_EQ(store.windowShortcut(), c.expectedWindow);
        for (const auto& [toggle, window] : seen) EXPECT_FALSE(toggle == window);
        EXPECT_FALSE(store.toggleShortcut() == store.windowShortcut());
        ProviderSettingsStore reloaded(fixture.defaults);
        EXPECT_EQ(reloaded.toggleShortcut(), c.expectedToggle);
        EXPECT_EQ(reloaded.windowShortcut(), c.expectedWindow);
    }
}

TEST(MenuBarIconPreviewTest, WorkingCellCyclesThroughTheRunningFramesOnlyWhileVisible) {
    brindleaf::testing::windowsApplication();
    MenuBarIconPreview preview;
    StatusIconFactory::IconSet icons = StatusIconFactory::iconSet(
        StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium);
    preview.setIcons(icons);
    EXPECT_FALSE(preview.isAnimating());
    preview.show();
    EXPECT_TRUE(preview.isAnimating());
    for (std::size_t i = 0; i < icons.running.size(); ++i) preview.advanceFrame();
    EXPECT_EQ(preview.frameIndex(), 0u);
    preview.hide();
    EXPECT_FALSE(preview.isAnimating());
    EXPECT_EQ(GeneralPaneContent::nextPreviewFrame(5, 0), 0u);
}

} // namespace
