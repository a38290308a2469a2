#include "windows/WelcomeWindowController.hpp"

#include "services/FakeFolderPicker.hpp"
#include "services/FolderAccessController.hpp"
#include "tests/windows/WindowsTestSupport.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

using namespace brindleaf;
using brindleaf::testing::settle;

namespace {

class WelcomeWindowTest : public ::testing::Test {
protected:
    void SetUp() override { brindleaf::testing::windowsApplication(); }

    std::unique_ptr<WelcomeWindowController> controller(
        bool sandboxed, std::shared_ptr<LaunchAtLoginController> launchAtLogin = nullptr) {
        std::filesystem::create_directories(fixture.dir / "home/.codex");
        folderAccess = std::make_shared<FolderAccessController>(fixture.defaults, sandboxed, picker, nullptr,
                                                                (fixture.dir / "home").string());
        return std::make_unique<WelcomeWindowController>(folderAccess,
                                                         launchAtLogin ? launchAtLogin : fixture.launchAtLogin,
                                                         fixture.settings, [this] { ++finishes; });
    }
    bool shownRecorded() const { return fixture.defaults->boolValue("welcomeShown.v1").value_or(false); }

    brindleaf::testing::SettingsFixture fixture;
    std::shared_ptr<FakeFolderPicker> picker = std::make_shared<FakeFolderPicker>();
    std::shared_ptr<FolderAccessController> folderAccess;
    int finishes = 0;
};

TEST_F(WelcomeWindowTest, EveryCloseFinishesOnceAfterTheTurn) {
    auto welcome = controller(false);
    welcome->show();
    QDialog* window = welcome->window();
    EXPECT_FALSE(window->isModal());
    EXPECT_TRUE(window->findChild<QPushButton*>("done")->isDefault());
    EXPECT_EQ(window->findChild<QWidget*>("folderAccess"), nullptr) << "unconfined: no folder box";

    const std::vector<std::pair<const char*, std::function<void()>>> closes = {
        {"close button", [&] { window->close(); }},
        {"Done", [&] { window->findChild<QPushButton*>("done")->click(); }},
        {"Escape",
         [&] {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(window, &escape);
         }},
        {"Ctrl+W",
         [&] {
             ASSERT_TRUE(QTest::qWaitForWindowActive(window));
             QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
         }},
    };
    int expected = 0;
    for (const auto& [name, close] : closes) {
        SCOPED_TRACE(name);
        welcome->show();
        EXPECT_EQ(welcome->window(), window) << "one window, reused";
        fixture.defaults->remove("welcomeShown.v1");
        close();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(finishes, expected) << "finish waits for the next turn";
        EXPECT_FALSE(shownRecorded());
        settle();
        EXPECT_EQ(finishes, ++expected);
        EXPECT_TRUE(shownRecorded());
    }
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
}

TEST_F(WelcomeWindowTest, SampleDataIsOnBeforeTheOnboardingEnds) {
    auto welcome = controller(false);
    welcome->show();
    bool sampleOnAtFinish = false;
    welcome = std::make_unique<WelcomeWindowController>(folderAccess, fixture.launchAtLogin, fixture.settings, [&] {
        sampleOnAtFinish = fixture.settings->isShowingSampleData();
    });
    welcome->show();
    welcome->window()->findChild<QPushButton*>("showSampleData")->click();
    settle();
    EXPECT_TRUE(sampleOnAtFinish);
    EXPECT_TRUE(fixture.settings->isShowingSampleData());
}

TEST_F(WelcomeWindowTest, ConfinedShowsTheFolderLinesAndTheLoginSwitch) {
    auto welcome = controller(true);
    welcome->show();
    QDialog* window = welcome->window();
    ASSERT_NE(window->findChild<QWidget*>("folderAccess"), nullptr);
    for (const char* folder : {"folder-claude", "folder-claudeDesktop", "folder-codex", "folder-hermes"}) {
        EXPECT_NE(window->findChild<QWidget*>(folder), nullptr) << folder;
    }
    auto* codexGrant = window->findChild<QWidget*>("folder-codex")->findChild<QPushButton*>("allowAccess");
    EXPECT_FALSE(codexGrant->isHidden());
    folderAccess->grant((fixture.dir / "home/.codex").string(), FolderAccessController::Folder::codex);
    EXPECT_TRUE(codexGrant->isHidden()) << "a grant updates the line in place";

    auto* login = window->findChild<QCheckBox*>("openAtLogin");
    EXPECT_FALSE(login->isChecked());
    login->click();
    EXPECT_TRUE(fixture.launchAtLogin->isEnabled());
}

} // namespace

namespace {

TEST_F(WelcomeWindowTest, OpenAtLoginShowsTheControllersStateAfterEveryRefusedChange) {
    auto refusing = brindleaf::testing::refusingLaunchAtLogin(fixture.dir);
    auto welcome = controller(false, refusing);
    welcome->show();
    auto* openAtLogin = welcome->window()->findChild<QCheckBox*>("openAtLogin");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        openAtLogin->click();
        settle();
        EXPECT_FALSE(refusing->isEnabled());
        EXPECT_FALSE(openAtLogin->isChecked()) << "nothing was registered";
    }
}

} // namespace
