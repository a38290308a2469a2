#include "windows/AgentsSettingsPane.hpp"

#include "services/FakeFolderAccessAlertPresenter.hpp"
#include "services/FakeFolderPicker.hpp"
#include "tests/windows/WindowsTestSupport.hpp"
#include "windows/QtFolderAccessAlertPresenter.hpp"
#include "windows/QtFolderPicker.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>

using namespace brindleaf;
using brindleaf::testing::settle;

namespace {

class AgentsPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        brindleaf::testing::windowsApplication();
        std::filesystem::create_directories(fixture.dir / "home/.codex");
        std::filesystem::create_directories(fixture.dir / "home/.claude");
    }

    std::unique_ptr<AgentsSettingsPane> pane(bool sandboxed) {
        folderAccess = std::make_shared<FolderAccessController>(fixture.defaults, sandboxed, picker, alerts,
                                                                (fixture.dir / "home").string());
        auto made = std::make_unique<AgentsSettingsPane>(fixture.settings, folderAccess);
        made->show();
        return made;
    }
    // Which state a folder line shows: "allowed", "allowAccess" or "notInstalled".
    static std::string lineState(QWidget& pane, const char* folder) {
        auto* line = pane.findChild<QWidget*>(QString("folder-") + folder);
        if (!line) return "no line";
        for (const char* state : {"allowed", "allowAccess", "notInstalled"}) {
            if (!line->findChild<QWidget*>(state)->isHidden()) return state;
        }
        return "none";
    }
    static QString footer(QWidget& pane) {
        auto* label = pane.findChild<QLabel*>("agentsFooter");
        return label->isHidden() ? QString() : label->text();
    }

    brindleaf::testing::SettingsFixture fixture;
    std::shared_ptr<FakeFolderPicker> picker = std::make_shared<FakeFolderPicker>();
    std::shared_ptr<FakeFolderAccessAlertPresenter> alerts = std::make_shared<FakeFolderAccessAlertPresenter>();
    std::shared_ptr<FolderAccessController> folderAccess;
};

TEST_F(AgentsPaneTest, UnconfinedShowsTheSwitchesAlone) {
    auto shown = pane(false);
    EXPECT_EQ(lineState(*shown, "codex"), "no line");
    for (const char* id : {"agent-codex", "agent-claude", "agent-hermes"}) {
        EXPECT_NE(shown->findChild<QCheckBox*>(id), nullptr) << id;
    }
    EXPECT_EQ(footer(*shown), QString());
}

TEST_F(AgentsPaneTest, ConfinedLinesShowTheGrantStateAndAGrantTurnsALineAllowed) {
    auto shown = pane(true);
    EXPECT_EQ(lineState(*shown, "codex"), "allowAccess");
    EXPECT_EQ(lineState(*shown, "claude"), "allowAccess");
    EXPECT_EQ(lineState(*shown, "claudeDesktop"), "notInstalled");
    EXPECT_EQ(lineState(*shown, "hermes"), "notInstalled");
    EXPECT_EQ(shown->findChild<QWidget*>("folder-codex")->findChild<QLabel*>("folderPath")->text(), "~/.codex");
    EXPECT_TRUE(footer(*shown).startsWith("Brindleaf only reads these agents’ folders."));

    picker->answers.push_back((fixture.dir / "home/.codex").string());
    shown->findChild<QWidget*>("folder-codex")->findChild<QPushButton*>("allowAccess")->click();
    EXPECT_EQ(lineState(*shown, "codex"), "allowed");
    EXPECT_EQ(lineState(*shown, "claude"), "allowAccess");
    ASSERT_EQ(picker->requests.size(), 1u);
    EXPECT_EQ(picker->requests[0].startingFolder, (fixture.dir / "home/.codex").string());
}

TEST_F(AgentsPaneTest, TheLastEnabledAgentCannotBeSwitchedOff) {
    auto shown = pane(false);
    auto* codex = shown->findChild<QCheckBox*>("agent-codex");
    auto* claude = shown->findChild<QCheckBox*>("agent-claude");
    auto* hermes = shown->findChild<QCheckBox*>("agent-hermes");
    if (codex->isChecked()) codex->click();
    settle();
    if (claude->isChecked()) claude->click();
    settle();
    if (!hermes->isChecked()) hermes->click();
    settle();
    ASSERT_EQ(fixture.settings->enabledProviderIDs(), (std::set<std::string>{"hermes"}));
    EXPECT_FALSE(hermes->isEnabled());
    EXPECT_TRUE(codex->isEnabled());
    EXPECT_FALSE(codex->isChecked());
    EXPECT_EQ(footer(*shown), "At least one agent stays on.");

    codex->click();
    settle();
    EXPECT_TRUE(hermes->isEnabled());
    EXPECT_EQ(footer(*shown), QString());
}

// The platform picker and alert, driven while they run modally.
TEST(QtFolderDialogsTest, PickerOffersFoldersOnlyWithHiddenOnesAndAlertIsPlainText) {
    brindleaf::testing::windowsApplication();
    brindleaf::testing::TempDir dir;
    std::filesystem::create_directories(dir / ".hidden/inner");
    QtFolderPicker picker;
    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_TRUE(dialog->filter() & QDir::Hidden);
        EXPECT_EQ(dialog->directory().absolutePath(), QString::fromStdString((dir / ".hidden").string()));
        EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Allow Access");
        EXPECT_EQ(dialog->findChild<QLabel*>("folderPickerMessage")->text(), "<b>why</b>");
        checked = true;
        dialog->reject();
    });
    EXPECT_EQ(picker.chooseFolder({"<b>why</b>", "Allow Access", (dir / ".hidden").string()}), std::nullopt);
    EXPECT_TRUE(checked);

    QtFolderAccessAlertPresenter alert;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->findChild<QLabel*>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
        box->defaultButton()->click();
    });
    alert.showAlert("Choose the “.codex” Folder", "<i>text</i>");
}

} // namespace
