#include "app/FolderAccessControllerQueries.hpp"
#include "platform/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <memory>

using namespace brindleaf;

TEST(FolderAccessControllerQueries, AnswersFromTheControllerAndKeepsOnlyTheLatestCallback) {
    auto controller = std::make_shared<FolderAccessController>(UserDefaults::inMemory("folder-access-queries"), true,
                                                               nullptr, nullptr, "/nonexistent-home");
    auto queries = std::make_unique<FolderAccessControllerQueries>(controller);
    int first = 0, second = 0;
    queries->setOnGrantedFoldersChange([&] { ++first; });
    queries->setOnGrantedFoldersChange([&] { ++second; });
    EXPECT_FALSE(queries->hasAccess("codex"));
    controller->grant("/nonexistent-home/.codex", FolderAccessController::Folder::codex);
    EXPECT_TRUE(queries->hasAccess("codex"));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);

    queries->setOnGrantedFoldersChange({});
    controller->grant("/nonexistent-home/.hermes", FolderAccessController::Folder::hermes);
    EXPECT_EQ(second, 1) << "an empty callback removes the observer";

    queries->setOnGrantedFoldersChange([&] { ++second; });
    queries.reset();
    controller->grant("/nonexistent-home/.claude", FolderAccessController::Folder::claude);
    EXPECT_EQ(second, 1) << "the observer goes with the adapter";
}
