#include "core/ProcessResourceSampler.hpp"
#include "providers/codex/CodexStatusProvider.hpp"
#include "providers/codex/CodexAppServerStatusProbe.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace brindleaf;
using brindleaf::testing::ChildProcess;
using brindleaf::testing::TempDir;

namespace {

CodexProviderConfig configFor(const TempDir& home) {
    return CodexProviderConfig::standard({{"CODEX_HOME", home.path().string()}}, "/nonexistent");
}

ProcessResourceSample proc(int64_t pid, int64_t parent, std::string command, std::optional<double> cpu = 1.0,
                             std::optional<int64_t> memory = 100) {
    return ProcessResourceSample{pid, parent, cpu, memory, std::move(command), std::nullopt};
}

CodexCandidate candidate(std::string id, std::optional<std::string> rollout = std::nullopt) {
    CodexCandidate c;
    c.id = std::move(id);
    c.title = c.id;
    c.rolloutPath = std::move(rollout);
    return c;
}

} // namespace

TEST(CodexProviderConfiguration, StandardValuesAndProbeChoice) {
    auto config = CodexProviderConfig::standard({{"CODEX_HOME", ""}, {"CODEX_SQLITE_HOME", "/db"}}, "/home/ann");
    EXPECT_EQ(config.codexHome, "/home/ann/.codex");
    EXPECT_EQ(config.sqliteHome, "/db");
    EXPECT_EQ(config.runtimeActivityWindow, 20);
    EXPECT_EQ(config.recentActivityWindow, 120);
    EXPECT_EQ(config.openEdgeActivityWindow, 120);
    EXPECT_EQ(config.pendingToolCallActivityWindow, 43200);
    EXPECT_EQ(config.recentThreadLimit, 40);
    EXPECT_EQ(config.runtimeLogRecentRowLimit, 10000);
    EXPECT_FALSE(CodexProviderConfig::standard({{"CODEX_SQLITE_HOME", ""}}, "/h").sqliteHome);

    TempDir home;
    // The environment names an endpoint: the provider asks it.
    ::setenv("CODEX_APP_SERVER_STATUS_URL", "http://127.0.0.1:9/custom", 1);
    CodexStatusProvider withEndpoint(configFor(home));
    ::unsetenv("CODEX_APP_SERVER_STATUS_URL");
    auto* probe = dynamic_cast<CodexAppServerStatusProbe*>(withEndpoint.officialStatusProbe().get());
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->statusURL(), "http://127.0.0.1:9/custom");

    ::unsetenv("CODEX_APP_SERVER_URL");
    CodexStatusProvider without(configFor(home));
    EXPECT_NE(dynamic_cast<NoopCodexOfficialStatusProbe*>(without.officialStatusProbe().get()), nullptr);
    EXPECT_EQ(without.name(), "Codex");
}

TEST(CodexSessionIndex, LaterLinesWinAndBadLinesAreSkipped) {
    TempDir home;
    home.write("session_index.jsonl",
               "{\"id\":\"a\",\"thread_name\":\"First\"}\n"
               "\n"
               "{\"id\":\"a\",\"thread_name\":\"Second\"}\r\n"
               "{\"id\":\"\",\"thread_name\":\"No id\"}\n"
               "{\"id\":\"b\",\"thread_name\":7}\n"
               "{\"id\":\"c\",\"thread_name\":\"\"}\n"
               "{\"id\":\"bad\",\"thread_name\":\"caf\xe9\"}\n" // not UTF-8: only this line is lost
               "not json\n"
               "{\"id\":\"d\",\"thread_name\":\"Dee\",\"extra\":[1]}");
    CodexStatusProvider provider(configFor(home));
    auto index = *provider.sessionIndex();
    EXPECT_EQ(index, (CodexStatusProvider::SessionIndex{{"a", "Second"}, {"c", ""}, {"d", "Dee"}}));

    TempDir empty;
    CodexStatusProvider none(configFor(empty));
    EXPECT_TRUE(none.sessionIndex()->empty());
}

TEST(CodexManagedProcesses, EntriesAndProcessIds) {
    TempDir home;
    home.write("process_manager/chat_processes.json", R"([
        {"conversationId":"a","osPid":4242},
        {"conversationId":"b","osPid":4242.9},
        {"conversationId":"c","osPid":"4242"},
        {"conversationId":"d","osPid":"42x2"},
        {"conversationId":"e","osPid":""},
        {"conversationId":"f","osPid":true},
        {"conversationId":"g","osPid":"99999999999999999999"},
        {"conversationId":"h","osPid":1e300},
        {"conversationId":"","osPid":1},
        {"osPid":1},
        {},
        {"conversationId":"a","osPid":"+17"}
    ])");
    CodexStatusProvider provider(configFor(home));
    auto processes = provider.managedProcesses();
    ASSERT_EQ(processes.size(), 9u);
    const std::vector<std::optional<int64_t>> pids = {4242, 4242, 4242, std::nullopt, std::nullopt,
                                                      std::nullopt, std::nullopt, std::nullopt, 17};
    for (std::size_t i = 0; i < pids.size(); ++i) EXPECT_EQ(processes[i].osPID, pids[i]) << i;

    auto grouped = CodexStatusProvider::groupManagedProcesses(processes);
    ASSERT_EQ(grouped["a"].size(), 2u);
    EXPECT_EQ(grouped["a"][1].osPID, 17);

    // One element that is not an object spoils the whole list.
    home.write("process_manager/chat_processes.json", R"([{"conversationId":"a","osPid":1},"x"])");
    brindleaf::testing::setFileTime(home / "process_manager/chat_processes.json", 1234);
    EXPECT_TRUE(provider.managedProcesses().empty());
    home.write("process_manager/chat_processes.json", R"({"conversationId":"a"})");
    EXPECT_TRUE(provider.managedProcesses().empty());
}

TEST(CodexSessionResources, RootsFromManagedProcessesAndCommandLines) {
    const std::vector<ProcessResourceSample> samples = {
        proc(10, 1, "/Applications/Codex.app/Contents/MacOS/Codex"),
        proc(11, 10, "/Applications/Codex.app/Contents/Resources/codex app-server thread-a", 2.0, 200),
        proc(12, 11, "/bin/zsh -c make", 3.0, 300),
        proc(20, 1, "/usr/bin/node worker", 5.0, 500),
        proc(21, 20, "/usr/bin/make", std::nullopt, std::nullopt),
        proc(30, 1, "/Applications/DurazEdo.app/x /Applications/Codex.app/ thread-b"),
        proc(40, 1, "/home/u/.vscode/extensions/openai.chatgpt-1.2/bin/codex thread-c"),
    };
    CodexStatusProvider::ManagedProcessesByConversation managed{
        {"thread-a", {CodexManagedProcess{"thread-a", 20}, CodexManagedProcess{"thread-a", 999}}}};

    // A live managed process and an app process naming the thread are both roots.
    EXPECT_EQ(CodexStatusProvider::sessionRootPIDs(candidate("thread-a"), samples, managed),
              (std::set<int64_t>{11, 20}));
    auto usage = CodexStatusProvider::sessionResourceUsage(candidate("thread-a"), samples, managed);
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->pid, 11);
    EXPECT_EQ(usage->processCount, 4); // 11, 12, 20, 21
    EXPECT_DOUBLE_EQ(*usage->cpuPercent, 10.0);
    EXPECT_EQ(usage->residentMemoryBytes, 1000);

    // The rollout path is a needle too.
    EXPECT_EQ(CodexStatusProvider::sessionRootPIDs(candidate("no-such-id", "thread-a"), samples, {}),
              (std::set<int64_t>{11}));

    // "DurazEdo.app" is never Codex; a VS Code extension needs "/codex app-server".
    EXPECT_TRUE(CodexStatusProvider::sessionRootPIDs(candidate("thread-b"), samples, {}).empty());
    EXPECT_TRUE(CodexStatusProvider::sessionRootPIDs(candidate("thread-c"), samples, {}).empty());

    // Without roots of its own a session gets the usage of all Codex app processes (10 and 11).
    auto shared = CodexStatusProvider::sessionResourceUsage(candidate("thread-z"), samples, managed);
    auto other = CodexStatusProvider::sessionResourceUsage(candidate("thread-y"), samples, {});
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared, other);
    EXPECT_EQ(shared->pid, 10);
    EXPECT_EQ(shared->processCount, 3);

    EXPECT_FALSE(CodexStatusProvider::sessionResourceUsage(candidate("thread-a"), {}, managed));
    EXPECT_FALSE(CodexStatusProvider::sessionResourceUsage(candidate("q"), {proc(5, 1, "/bin/sh")}, {}));

    // A child forked by an app process carries its command line until it runs
    // exec: it is a root of its own, and still counted once.
    auto forked = samples;
    forked.push_back(proc(13, 11, samples[1].command));
    EXPECT_EQ(CodexStatusProvider::sessionRootPIDs(candidate("thread-a"), forked, managed),
              (std::set<int64_t>{11, 13, 20}));
    EXPECT_EQ(CodexStatusProvider::sessionResourceUsage(candidate("thread-a"), forked, managed)->processCount, 5);
}

TEST(CodexSessionResources, RealProcessFromTheManagedList) {
    TempDir home;
    // Its command line names neither Codex nor the thread: only the list makes it a root.
    ChildProcess chat("/bin/sleep", {"brindleaf-managed-chat", "30"});
    home.write("process_manager/chat_processes.json",
               "[{\"conversationId\":\"thread-real\",\"osPid\":" + std::to_string(chat.pid()) + "}]");
    CodexStatusProvider provider(configFor(home), ProcessResourceSampler::freshReader());
    const auto samples = ProcessResourceSampler::sampleAll();
    const auto managed = CodexStatusProvider::groupManagedProcesses(provider.managedProcesses());
    const auto roots = CodexStatusProvider::sessionRootPIDs(candidate("thread-real"), samples, managed);
    EXPECT_EQ(roots, (std::set<int64_t>{chat.pid()}));
    auto usage = CodexStatusProvider::sessionResourceUsage(candidate("thread-real"), samples, managed);
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->pid, chat.pid());
    EXPECT_GE(usage->processCount, 1);
    EXPECT_TRUE(usage->residentMemoryBytes.has_value());
}
