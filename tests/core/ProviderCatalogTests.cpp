#include "core/ProviderCatalog.hpp"
#include "core/UserHomeDirectory.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace brindleaf;

TEST(ProviderCatalogTests, listsTheThreeAgentsInOrder) {
    const auto& all = ProviderCatalog::all();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, "codex");
    EXPECT_EQ(all[0].displayName, "Codex");
    EXPECT_EQ(all[0].subtitle, "Codex CLI and app sessions");
    EXPECT_EQ(all[0].symbolName, "terminal");
    EXPECT_EQ(all[1].id, "claude");
    EXPECT_EQ(all[1].displayName, "Claude Code");
    EXPECT_EQ(all[1].subtitle, "Claude Code sessions in the terminal, IDE, and Claude app");
    EXPECT_EQ(all[1].symbolName, "curlybraces");
    EXPECT_EQ(all[2].id, "hermes");
    EXPECT_EQ(all[2].displayName, "Hermes");
    EXPECT_EQ(all[2].subtitle, "Hermes agent sessions");
    EXPECT_EQ(all[2].symbolName, "bolt.horizontal.circle");
    for (const auto& descriptor : all) {
        EXPECT_FALSE(descriptor.iconAssetName);
        EXPECT_EQ(descriptor.integrationState, ProviderDescriptor::IntegrationState::live);
    }
    EXPECT_EQ(&ProviderCatalog::all(), &all);
}

TEST(ProviderCatalogTests, descriptorJSONRoundTripAndStrictDecoding) {
    const auto& codex = ProviderCatalog::all()[0];
    EXPECT_EQ(codex.toJSON().dump(),
              R"({"id":"codex","displayName":"Codex","subtitle":"Codex CLI and app sessions","symbolName":"terminal","integrationState":"Live"})");
    EXPECT_EQ(ProviderDescriptor::fromJSON(nlohmann::json::parse(codex.toJSON().dump())), codex);

    ProviderDescriptor planned = codex;
    planned.iconAssetName = "CodexIcon";
    planned.integrationState = ProviderDescriptor::IntegrationState::planned;
    auto json = planned.toJSON();
    EXPECT_EQ(json["iconAssetName"], "CodexIcon");
    EXPECT_EQ(json["integrationState"], "Planned");
    EXPECT_EQ(ProviderDescriptor::fromJSON(nlohmann::json::parse(json.dump())), planned);

    auto decode = [](const std::string& text) { return ProviderDescriptor::fromJSON(nlohmann::json::parse(text)); };
    EXPECT_THROW(decode(R"({"id":"x","displayName":"X","subtitle":"s","symbolName":"y","integrationState":"live"})"),
                 std::invalid_argument);
    EXPECT_THROW(decode(R"({"id":"x","displayName":"X","subtitle":"s","symbolName":"y"})"), std::invalid_argument);
    EXPECT_THROW(decode(R"({"id":"x","displayName":"X","symbolName":"y","integrationState":"Live"})"),
                 std::invalid_argument);
    EXPECT_THROW(decode(R"({"id":1,"displayName":"X","subtitle":"s","symbolName":"y","integrationState":"Live"})"),
                 std::invalid_argument);
    EXPECT_THROW(decode(R"([1,2])"), std::invalid_argument);
    EXPECT_FALSE(decode(R"({"id":"x","displayName":"X","subtitle":"s","symbolName":"y","integrationState":"Live"})")
                     .iconAssetName);
}

TEST(UserHomeDirectoryTests, passwordEntryFirstThenEnvironment) {
    EXPECT_EQ(UserHomeDirectory::choose(std::string("/home/ann"), std::string("/tmp/other")), "/home/ann");
    EXPECT_EQ(UserHomeDirectory::choose(std::string(""), std::string("/tmp/other")), "/tmp/other");
    EXPECT_EQ(UserHomeDirectory::choose(std::nullopt, std::string("/tmp/other")), "/tmp/other");
    EXPECT_EQ(UserHomeDirectory::choose(std::nullopt, std::nullopt), "");

    // The real lookup: the password database's home of the real user.
    const passwd* entry = getpwuid(getuid());
    ASSERT_TRUE(entry);
    std::string expected = entry->pw_dir && *entry->pw_dir ? entry->pw_dir : std::getenv("HOME");
    std::string seen[4];
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = UserHomeDirectory::path(); });
    for (auto& thread : threads) thread.join();
    for (const auto& value : seen) EXPECT_EQ(value, expected);
    // Computed once: a later change of $HOME changes nothing.
    const char* oldHome = std::getenv("HOME");
    std::string saved = oldHome ? oldHome : "";
    setenv("HOME", "/nonexistent-home", 1);
    EXPECT_EQ(UserHomeDirectory::path(), expected);
    setenv("HOME", saved.c_str(), 1);

    EXPECT_EQ(UserHomeDirectory::url().rfind("file://", 0), 0u);
    EXPECT_EQ(UserHomeDirectory::url().back(), '/');
}
