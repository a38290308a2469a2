#include "services/FolderAccessController.hpp"

#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "services/FakeFolderAccessAlertPresenter.hpp"
#include "services/FakeFolderPicker.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;
namespace fs = std::filesystem;
using Folder = FolderAccessController::Folder;
using Folders = std::set<Folder>;

namespace {

class FolderAccessTest : public ::testing::Test {
protected:
    FolderAccessTest() {
        for (const char* folder : {".claude", ".config/Claude", ".codex", ".hermes"})
            fs::create_directories(home() / folder);
    }

    fs::path home() const { return dir_ / "home"; }
    std::shared_ptr<UserDefaults> suite() const { return UserDefaults::open("defaults", dir_ / "config"); }
    // A fresh controller over the same stored grants, as a later launch would make it.
    std::unique_ptr<FolderAccessController> launch(bool sandboxed = true) {
        return std::make_unique<FolderAccessController>(suite(), sandboxed, picker_, alerts_, home().string());
    }
    DefaultsValue::Dictionary stored() const {
        return suite()->dictionary("folderAccessBookmarks").value_or(DefaultsValue::Dictionary{});
    }
    static DefaultsValue grantOf(const fs::path& path) { return DefaultsValue::data(path.string()); }

    TempDir dir_;
    std::shared_ptr<FakeFolderPicker> picker_ = std::make_shared<FakeFolderPicker>();
    std::shared_ptr<FakeFolderAccessAlertPresenter> alerts_ = std::make_shared<FakeFolderAccessAlertPresenter>();
};

} // namespace

TEST_F(FolderAccessTest, UnconfinedEverythingIsAllowedWithoutAPanel) {
    auto access = launch(false);
    for (const char* id : {"codex", "claude", "hermes", "other"}) {
        EXPECT_TRUE(access->hasAccess(id)) << id;
        EXPECT_TRUE(access->missingFolders(id).empty()) << id;
    }
    EXPECT_FALSE(access->hasMissingFolderAccess());
    EXPECT_TRUE(access->requestAccess(Folder::codex));
    EXPECT_TRUE(picker_->requests.empty());
    EXPECT_TRUE(stored().empty());
}

TEST_F(FolderAccessTest, ChoosingTheHomeForCodexGrantsEveryKindButStoresOnlyCodex) {
    auto access = launch();
    EXPECT_FALSE(access->hasAccess("codex"));
    EXPECT_TRUE(access->hasAccess("other"));
    EXPECT_EQ(access->missingFolders("claude"), (std::vector<Folder>{Folder::claude, Folder::claudeDesktop}));
    EXPECT_TRUE(access->hasMissingFolderAccess());
    int announcements = 0;
    access->addObserver([&] { ++announcements; });

    picker_->answers.push_back(home().string() + "/");
    EXPECT_TRUE(access->requestAccess(Folder::codex));
    ASSERT_EQ(picker_->requests.size(), 1u);
    const auto& request = picker_->requests[0];
    EXPECT_EQ(request.message, "Brindleaf reads Codex’s session files in “.codex” to show which sessions are running. "
                               "It never changes them.");
    EXPECT_EQ(request.prompt, "Allow Access");
    EXPECT_EQ(request.startingFolder, (home() / ".codex").string());
    EXPECT_TRUE(request.showsHiddenFiles);
    EXPECT_FALSE(request.canChooseFiles);

    EXPECT_EQ(access->grantedFolders(),
              (Folders{Folder::claude, Folder::claudeDesktop, Folder::codex, Folder::hermes}));
    EXPECT_EQ(announcements, 4);
    EXPECT_FALSE(access->hasMissingFolderAccess());
    EXPECT_EQ(stored(), (DefaultsValue::Dictionary{{"codex", grantOf(fs::canonical(home()))}}));

    // The next launch restores the stored grant alone.
    auto later = launch();
    EXPECT_EQ(later->grantedFolders(), (Folders{Folder::codex}));
    EXPECT_EQ(later->missingFolders("claude"), (std::vector<Folder>{Folder::claude, Folder::claudeDesktop}));
}

TEST_F(FolderAccessTest, OnlyTheFolderOrAFolderAboveItIsAccepted) {
    fs::create_directories(home() / ".codex/sessions");
    fs::create_directories(home() / ".codex2");
    fs::create_directory_symlink(home() / ".codex", dir_ / "codex-link");
    struct Case {
        std::optional<std::string> choice;
        bool accepted;
    };
    const Case cases[] = {
        {std::nullopt, false},
        {(home() / ".codex/sessions").string(), false},
        {(home() / ".codex2").string(), false},
        {(home() / ".claude").string(), false},
        {(home() / ".codex/sessions/..").string(), true},
        {(dir_ / "codex-link").string(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice.value_or("cancelled"));
        alerts_->alerts.clear();
        auto access = launch();
        picker_->answers = {c.choice};
        EXPECT_EQ(access->requestAccess(Folder::codex), c.accepted);
        EXPECT_EQ(access->hasAccess("codex"), c.accepted);
        if (!c.accepted && c.choice) {
            ASSERT_EQ(alerts_->alerts.size(), 1u);
            EXPECT_EQ(alerts_->alerts[0].first, "Choose the “.codex” Folder");
            EXPECT_EQ(alerts_->alerts[0].second, "Brindleaf needs access to ~/.codex. Select that folder, or your home "
                                                 "folder, and click Allow Access.");
        } else {
            EXPECT_TRUE(alerts_->alerts.empty());
        }
    }
    // The link was stored as the folder it leads to.
    EXPECT_EQ(stored(), (DefaultsValue::Dictionary{{"codex", grantOf(fs::canonical(home() / ".codex"))}}));

    // The Claude app's folder is named after its last component.
    picker_->answers = {(home() / ".claude").string()};
    EXPECT_FALSE(launch()->requestAccess(Folder::claudeDesktop));
    ASSERT_FALSE(alerts_->alerts.empty());
    EXPECT_EQ(alerts_->alerts.back().first, "Choose the “Claude” Folder");
    EXPECT_EQ(alerts_->alerts.back().second, "Brindleaf needs access to ~/.config/Claude. Select that folder, or your "
                                             "home folder, and click Allow Access.");
}

TEST_F(FolderAccessTest, BadStoredValuesSpareTheOtherGrants) {
    fs::create_directory_symlink(home() / ".hermes", dir_ / "hermes-link");
    suite()->set("folderAccessBookmarks", DefaultsValue::Dictionary{
                                              {"claude", grantOf(home() / ".claude")},
                                              {"codex", DefaultsValue("not data")},
                                              {"claudeDesktop", DefaultsValue::data("relative/Claude")},
                                              {"hermes", grantOf(dir_ / "hermes-link")},
                                              {"unknownKind", DefaultsValue(7)},
                                          });
    auto access = launch();
    EXPECT_EQ(access->grantedFolders(), (Folders{Folder::claude, Folder::hermes}));
    // Values that can never be a folder are dropped; a grant through a changed path is renewed.
    EXPECT_EQ(stored(), (DefaultsValue::Dictionary{{"claude", grantOf(fs::canonical(home() / ".claude"))},
                                                   {"hermes", grantOf(fs::canonical(home() / ".hermes"))},
                                                   {"unknownKind", DefaultsValue(7)}}));

    picker_->answers = {(home() / ".codex").string()};
    EXPECT_TRUE(access->requestAccess(Folder::codex));
    auto after = stored();
    EXPECT_EQ(after.size(), 4u);
    EXPECT_EQ(after.at("claude"), grantOf(fs::canonical(home() / ".claude")));
    EXPECT_EQ(after.at("codex"), grantOf(fs::canonical(home() / ".codex")));
}

TEST_F(FolderAccessTest, ValuesThatCanNeverBeAFolderAreDropped) {
    const DefaultsValue values[] = {DefaultsValue("/not/data"), DefaultsValue::data(""),
                                    DefaultsValue::data("relative/.codex"),
                                    DefaultsValue::data(home().string() + std::string("/.codex\0x", 9))};
    for (const DefaultsValue& value : values) {
        suite()->set("folderAccessBookmarks", DefaultsValue::Dictionary{{"codex", value}});
        EXPECT_FALSE(launch()->hasAccess("codex"));
        EXPECT_TRUE(stored().empty());
    }
}

TEST_F(FolderAccessTest, GrantOfAFolderThatIsGoneForAMomentIsKept) {
    picker_->answers = {(home() / ".codex").string()};
    ASSERT_TRUE(launch()->requestAccess(Folder::codex));
    const auto grant = stored();

    fs::rename(home() / ".codex", dir_ / "codex-aside");
    auto whileGone = launch();
    EXPECT_FALSE(whileGone->hasAccess("codex"));
    EXPECT_TRUE(whileGone->missingFolders("codex").empty());
    EXPECT_EQ(stored(), grant);

    fs::rename(dir_ / "codex-aside", home() / ".codex");
    EXPECT_TRUE(launch()->hasAccess("codex"));
}

TEST_F(FolderAccessTest, GrantThatCannotBeSavedHoldsForThisRunAndIsLogged) {
    auto log = std::make_shared<MemoryLogSink>();
    Logger::setSink(log);
    // A picker whose folder vanished after it was chosen: it cannot be saved.
    fs::remove_all(home() / ".hermes");
    picker_->answers = {(home() / ".hermes").string()};
    auto access = launch();
    EXPECT_TRUE(access->requestAccess(Folder::hermes));
    Logger::setSink(nullptr);
    EXPECT_TRUE(access->hasAccess("hermes"));
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(log->messages(), (std::vector<std::string>{
                                   "Brindleaf could not save folder access for ~/.hermes: No such file or directory"}));
}
