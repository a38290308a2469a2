// Folder listings reused between walks and registry reads: every change to the
// tree must show up exactly as a fresh walk sees it.
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "tests/providers/claude/ClaudeScanSupport.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::claudefixtures;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> paths(const std::vector<ClaudeTranscriptFile>& files) {
    std::vector<std::string> result;
    for (const auto& file : files) result.push_back(file.path);
    return result;
}

void append(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::app);
    out << text;
}

} // namespace

TEST(ClaudeListingReuse, WalksAndRegistryReadsFollowEveryChangeOfSettledFolders) {
    ClaudeHome home;
    const Date base = wholeNow() - 3600;
    const fs::path projectA = home.projects() / "-w-a";
    const fs::path projectB = home.projects() / "-w-b";
    const fs::path subagents = projectA / "s1" / "subagents";
    home.write(projectA / "a.jsonl", "{}\n", base + 10);
    home.write(projectA / "b.jsonl", "{}\n", base + 20);
    home.write(projectA / "notes.json", "{}", base + 25);
    home.write(subagents / "agent-1.jsonl", "{}\n", base + 30);
    home.write(projectB / "c.jsonl", "{}\n", base + 40);
    home.write(projectB / "s2" / "subagents" / "agent-2.jsonl", "{}\n", base + 50);
    const fs::path sessions = home.claudeHome() / "sessions";
    home.registerEngine(101, "one");
    home.registerEngine(102, "two");

    // Listings are kept only for folders whose last change is a while back.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));

    const std::string projects = home.projects().string();
    ClaudeStatusProvider provider(home.config(0));
    auto listing = [&] { return provider.listTranscripts(projects); };
    const auto expected = [&] { return paths(ClaudeStatusProvider::findTranscriptFiles(projects)); };
    ASSERT_EQ(paths(listing()), expected());
    EXPECT_EQ(paths(listing()), expected()); // from the kept listings
    EXPECT_EQ(listing(), ClaudeStatusProvider::findTranscriptFiles(projects));
    using Registry = std::map<int64_t, std::string>;
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()), (Registry{{101, "one"}, {102, "two"}}));
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()), (Registry{{101, "one"}, {102, "two"}}));

    // An append to a transcript of an unchanged folder moves it up.
    append(projectA / "a.jsonl", "{}\n");
    brindleaf::testing::setFileTime(projectA / "a.jsonl", base + 100);
    EXPECT_EQ(paths(listing()).front(), (projectA / "a.jsonl").string());
    EXPECT_EQ(paths(listing()), expected());

    // Added, removed and renamed entries, deep and shallow; a replaced folder.
    home.write(subagents / "agent-3.jsonl", "{}\n", base + 200);
    fs::remove(projectB / "c.jsonl");
    fs::rename(projectA / "b.jsonl", projectA / "b2.jsonl");
    fs::remove_all(projectB / "s2");
    home.write(projectB / "s2" / "subagents" / "agent-4.jsonl", "{}\n", base + 60);
    const auto changed = listing();
    const std::vector<std::string> want{
        (subagents / "agent-3.jsonl").string(), (projectA / "a.jsonl").string(),
        (projectB / "s2" / "subagents" / "agent-4.jsonl").string(), (subagents / "agent-1.jsonl").string(),
        (projectA / "b2.jsonl").string()};
    EXPECT_EQ(paths(changed), want);
    EXPECT_EQ(paths(listing()), want);
    EXPECT_EQ(listing(), ClaudeStatusProvider::findTranscriptFiles(projects));

    // A registry file rewritten in place, one added, one removed.
    home.write(sessions / "101.json", R"({"pid": 101, "sessionId": "one again"})");
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()), (Registry{{101, "one again"}, {102, "two"}}));
    home.registerEngine(103, "three");
    fs::remove(sessions / "102.json");
    EXPECT_EQ(provider.readSessionPIDs(sessions.string()), (Registry{{101, "one again"}, {103, "three"}}));
    fs::remove_all(sessions);
    EXPECT_TRUE(provider.readSessionPIDs(sessions.string()).empty());
}

TEST(ClaudeListingReuse, ListingWithRescanIntervalMatchesFreshWalkAfterChanges) {
    ClaudeHome home;
    const Date base = wholeNow() - 3600;
    const fs::path project = home.projects() / "-w-a";
    for (int i = 0; i < 6; ++i) {
        std::string name = "t";
        name.append(std::to_string(i)).append(".jsonl");
        home.write(project / name, "{}\n", base + i);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    const std::string projects = home.projects().string();
    auto config = home.config(0.0001); // every scan walks, through the listing cache
    ClaudeStatusProvider provider(config);
    EXPECT_EQ(provider.listTranscripts(projects), ClaudeStatusProvider::findTranscriptFiles(projects));
    fs::remove(project / "t5.jsonl");
    home.write(project / "t9.jsonl", "{}\n", base + 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto listed = provider.listTranscripts(projects);
    EXPECT_EQ(listed, ClaudeStatusProvider::findTranscriptFiles(projects));
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front().path, (project / "t9.jsonl").string());
    EXPECT_EQ(listed.size(), 6u);
}
