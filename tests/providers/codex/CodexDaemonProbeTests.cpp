// The Codex daemon's thread statuses over its control socket: the exchange,
// following notifications, a daemon that dies and comes back, one that is
// slow or silent, and sockets that are not to be trusted.
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "providers/codex/CodexDaemonProtocol.hpp"
#include "providers/codex/CodexDaemonStatusProbe.hpp"
#include "tests/providers/codex/CodexDaemonHome.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;
namespace fs = std::filesystem;
using Mode = CodexDaemonStatusProbe::Mode;
using Thread = TestCodexDaemon::Thread;

namespace {

class CodexDaemonProbe : public ::testing::Test {
protected:
    void SetUp() override { Logger::setSink(log); }
    void TearDown() override { Logger::setSink(nullptr); }

    std::size_t logged(const std::string& prefix) const {
        const auto messages = log->messages();
        return std::count_if(messages.begin(), messages.end(),
                             [&](const std::string& message) { return message.rfind(prefix, 0) == 0; });
    }

    static const CodexOfficialThreadStatus* find(const std::vector<CodexOfficialThreadStatus>& statuses,
                                                 const std::string& id) {
        for (const auto& status : statuses)
            if (status.id == id) return &status;
        return nullptr;
    }

    // Every method a client sent was one it may send.
    static void expectOnlyReads(const TestCodexDaemon& daemon) {
        for (const auto& method : daemon.methodsReceived())
            EXPECT_TRUE(CodexDaemonProtocol::isAllowedMethod(method)) << "sent " << method;
    }

    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
};

Thread thread(std::string id, std::string type, std::vector<std::string> flags = {}) {
    Thread t;
    t.id = std::move(id);
    t.type = std::move(type);
    t.flags = std::move(flags);
    t.path = "/work/rollouts/" + t.id + ".jsonl";
    return t;
}

Thread ephemeralThread(std::string id) {
    Thread t;
    t.id = std::move(id);
    t.type = "active";
    t.ephemeral = true;
    return t;
}

} // namespace

TEST_F(CodexDaemonProbe, FollowsTheDaemonAndAnswersItsRequestsWithAnError) {
    CodexDaemonHome home;
    home.daemon->setThreads({thread("a", "active", {"waitingOnApproval"}), thread("b", "idle"), ephemeralThread("e")});
    CodexDaemonStatusProbe probe(home.options(Mode::follow));
    std::atomic<int> changes{0};
    probe.setChangeHandler([&] { ++changes; });
    const auto snapshot = [&] { return probe.fetchSnapshot(0); };

    ASSERT_TRUE(eventually([&] { return probe.isConnected(); })) << "the follower never read the daemon's threads";
    auto statuses = snapshot();
    ASSERT_EQ(statuses.size(), 2u) << "the ephemeral thread is not a session";
    ASSERT_TRUE(find(statuses, "a"));
    EXPECT_TRUE(find(statuses, "a")->live);
    EXPECT_EQ(find(statuses, "a")->state, CodexOfficialThreadRunState::active);
    EXPECT_EQ(find(statuses, "a")->wait, CodexThreadWait::approval);
    EXPECT_EQ(find(statuses, "a")->rolloutPath, "/work/rollouts/a.jsonl");
    EXPECT_EQ(find(statuses, "b")->state, CodexOfficialThreadRunState::idle);
    // The handler is called just after the connection is marked as made.
    EXPECT_TRUE(eventually([&] { return changes.load() >= 1; })) << "being connected is a change";

    const int before = changes.load();
    home.daemon->changeStatus("b", "active", {"waitingOnUserInput"});
    ASSERT_TRUE(eventually([&] {
        auto now = snapshot();
        return find(now, "b") && find(now, "b")->wait == CodexThreadWait::userInput;
    }));
    EXPECT_GT(changes.load(), before);

    home.daemon->startThread(thread("c", "idle"));
    ASSERT_TRUE(eventually([&] { return find(snapshot(), "c") != nullptr; })) << "a started thread is read";
    home.daemon->renameThread("c", "Fix the build");
    ASSERT_TRUE(eventually([&] {
        auto now = snapshot();
        return find(now, "c") && find(now, "c")->title == "Fix the build";
    }));
    home.daemon->closeThread("a");
    ASSERT_TRUE(eventually([&] { return find(snapshot(), "a") == nullptr; }));

    home.daemon->sendRequest("item/commandExecution/requestApproval");
    ASSERT_TRUE(eventually([&] { return home.daemon->answersToRequests().size() == 1; }))
        << "the daemon's request was never answered";
    EXPECT_NE(home.daemon->answersToRequests().front().find("\"error\""), std::string::npos);

    // One connection, each thread read once, nothing that acts on a thread.
    expectOnlyReads(*home.daemon);
    const auto methods = home.daemon->methodsReceived();
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "initialize"), 1);
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "initialized"), 1);
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "thread/read"), 4) << "a, b, e on connecting; c on starting";
    EXPECT_EQ(home.daemon->acceptedConnections(), 1u);
    EXPECT_EQ(logged("codex.daemon.connected"), 1u);
}

TEST_F(CodexDaemonProbe, FindsTheDaemonAgainWhenItDiesAndComesBack) {
    CodexDaemonHome home;
    home.daemon->setThreads({thread("a", "active")});
    CodexDaemonStatusProbe probe(home.options(Mode::follow));
    ASSERT_TRUE(eventually([&] { return probe.isConnected(); }));

    home.daemon->stop();
    ASSERT_TRUE(eventually([&] { return !probe.isConnected(); })) << "the daemon's end went unnoticed";
    EXPECT_TRUE(probe.fetchSnapshot(0).empty()) << "a gone daemon's statuses are no longer current";
    // The probe says so just after it stopped counting as connected.
    EXPECT_TRUE(eventually([&] { return logged("codex.daemon.lost") >= 1u; })) << "the loss was never logged";
    EXPECT_EQ(logged("codex.daemon.lost"), 1u);

    home.daemon->setThreads({thread("a", "idle")});
    home.daemon->start();
    ASSERT_TRUE(eventually([&] { return probe.isConnected(); })) << "the returned daemon was not found";
    auto statuses = probe.fetchSnapshot(0);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses.front().state, CodexOfficialThreadRunState::idle);
    EXPECT_TRUE(eventually([&] { return logged("codex.daemon.connected") >= 2u; }))
        << "the second connection was never logged";
    EXPECT_EQ(logged("codex.daemon.connected"), 2u);
    EXPECT_EQ(logged("codex.daemon.lost"), 1u);
    expectOnlyReads(*home.daemon);
}

TEST_F(CodexDaemonProbe, OnceReadsEveryPageAndCloses) {
    CodexDaemonHome home;
    std::vector<Thread> threads;
    for (int i = 0; i < 5; ++i) threads.push_back(thread("t" + std::to_string(i), "idle"));
    home.daemon->setThreads(threads);
    home.daemon->setPageSize(2);
    CodexDaemonStatusProbe probe(home.options(Mode::once));

    EXPECT_EQ(probe.fetchSnapshot(0).size(), 5u);
    ASSERT_TRUE(eventually([&] { return home.daemon->openConnections() == 0; })) << "the connection stayed open";
    const auto methods = home.daemon->methodsReceived();
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "thread/loaded/list"), 3);
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "thread/read"), 5);
    expectOnlyReads(*home.daemon);
    EXPECT_EQ(logged("codex.daemon."), 0u) << "a headless read says nothing";
}

TEST_F(CodexDaemonProbe, ASlowOrSilentDaemonHoldsNothingUp) {
    {
        // Never answering: the headless read ends at its bound with nothing.
        CodexDaemonHome home;
        home.daemon->setThreads({thread("a", "active")});
        home.daemon->setAnswerDelay(-1);
        CodexDaemonStatusProbe probe(home.options(Mode::once));
        EXPECT_TRUE(probe.fetchSnapshot(0).empty());
        ASSERT_TRUE(eventually([&] { return home.daemon->openConnections() == 0; }));
    }
    {
        // Answering late: the follower gets there, and scans meanwhile return at once.
        CodexDaemonHome home;
        home.daemon->setThreads({thread("a", "active"), thread("b", "idle")});
        home.daemon->setAnswerDelay(0.05);
        CodexDaemonStatusProbe probe(home.options(Mode::follow));
        EXPECT_LE(probe.fetchSnapshot(0).size(), 2u);
        ASSERT_TRUE(eventually([&] { return probe.fetchSnapshot(0).size() == 2; }));
    }
}

// Each piece that someone else could have put there or could change is
// passed over, with one log line however often it is met.
TEST_F(CodexDaemonProbe, PassesOverSocketsOthersCouldHavePlaced) {
    struct Case {
        const char* what;
        std::function<void(CodexDaemonHome&)> spoil;
        const char* code;
    };
    const Case cases[] = {
        {"socket open to others", [](CodexDaemonHome& h) { fs::permissions(h.socket(), fs::perms(0666)); }, "mode"},
        {"socket folder open to the group",
         [](CodexDaemonHome& h) { fs::permissions(h.socketFolder(), fs::perms(0750)); }, "mode"},
        {"control folder writable by others",
         [](CodexDaemonHome& h) { fs::permissions(h.controlFolder(), fs::perms(0777)); }, "mode"},
        {"link to a file",
         [](CodexDaemonHome& h) {
             writeFile(h.socketFolder() / "plain", "");
             fs::remove(h.link());
             fs::create_symlink(h.socketFolder() / "plain", h.link());
         },
         "not-socket"},
        {"socket folder is a link",
         [](CodexDaemonHome& h) {
             fs::create_directory_symlink(h.socketFolder(), h.socketRoot.path() / "alias");
             fs::remove(h.link());
             fs::create_symlink(h.socketRoot.path() / "alias" / "app-server-control.sock", h.link());
         },
         "link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log->clear();
        CodexDaemonHome home;
        home.daemon->setThreads({thread("a", "active", {"waitingOnApproval"})});
        c.spoil(home);
        CodexDaemonStatusProbe probe(home.options(Mode::once));
        EXPECT_TRUE(probe.fetchSnapshot(0).empty());
        EXPECT_TRUE(probe.fetchSnapshot(0).empty());
        EXPECT_EQ(home.daemon->acceptedConnections(), 0u) << "connected to a socket that is not to be trusted";
        EXPECT_EQ(logged("codex.daemon.refused"), 1u);
        const auto messages = log->messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_NE(messages.front().find(std::string("reason=") + c.code), std::string::npos) << messages.front();
    }
}

TEST_F(CodexDaemonProbe, PassesOverAnotherUsersSocket) {
    CodexDaemonHome home;
    home.daemon->setThreads({thread("a", "active", {"waitingOnApproval"})});
    auto options = home.options(Mode::follow);
    if (::getuid() == 0) {
        // Root gives the socket and its link to "nobody"; the probe expects root.
        ASSERT_EQ(::lchown(home.socket().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::lchown(home.link().c_str(), 65534, 65534), 0);
    } else {
        // Otherwise everything is ours, and the probe stands for another user.
        options.user = ::getuid() + 1;
    }
    CodexDaemonStatusProbe probe(options);
    ASSERT_TRUE(eventually([&] { return logged("codex.daemon.refused") == 1; })) << "the refusal was not logged";
    EXPECT_NE(log->messages().front().find("reason=owner"), std::string::npos) << log->messages().front();
    EXPECT_FALSE(probe.isConnected());
    EXPECT_TRUE(probe.fetchSnapshot(0).empty());
    EXPECT_EQ(home.daemon->acceptedConnections(), 0u);
}

TEST_F(CodexDaemonProbe, NoDaemonIsNoNews) {
    TempDir codexHome;
    CodexDaemonStatusProbe::Options options;
    options.codexHome = codexHome.path().string();
    options.mode = Mode::once;
    options.user = ::getuid();
    CodexDaemonStatusProbe probe(options);
    EXPECT_TRUE(probe.fetchSnapshot(0).empty());
    EXPECT_TRUE(log->messages().empty());
}

TEST(CodexDaemonProtocolTests, ReadsThreadsStatusesAndRequests) {
    using Kind = CodexDaemonProtocol::Incoming::Kind;
    auto read = CodexDaemonProtocol::parse(
        R"({"id":7,"result":{"thread":{"id":"t","status":{"type":"active","activeFlags":["waitingOnUserInput","waitingOnApproval"]},"path":"/r.jsonl","cwd":"/w","name":null,"ephemeral":false}}})");
    ASSERT_EQ(read.kind, Kind::response);
    EXPECT_EQ(read.id, 7);
    ASSERT_TRUE(read.thread);
    EXPECT_EQ(read.thread->status.wait, CodexThreadWait::approval) << "an approval comes first";
    EXPECT_FALSE(read.thread->status.title);
    EXPECT_FALSE(read.thread->ephemeral);

    auto list = CodexDaemonProtocol::parse(R"({"id":2,"result":{"data":["a","b"],"nextCursor":"2"}})");
    EXPECT_EQ(list.threadIDs, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.nextCursor, "2");

    auto request = CodexDaemonProtocol::parse(R"({"id":"req-1","method":"item/tool/requestUserInput","params":{}})");
    EXPECT_EQ(request.kind, Kind::request);
    EXPECT_EQ(CodexDaemonProtocol::refusal(request.rawID).rfind(R"({"id":"req-1","error":)", 0), 0u);

    auto changed = CodexDaemonProtocol::parse(
        R"({"method":"thread/status/changed","params":{"threadId":"t","status":{"type":"idle"}}})");
    EXPECT_EQ(changed.kind, Kind::notification);
    ASSERT_TRUE(changed.status);
    EXPECT_EQ(changed.status->state, CodexOfficialThreadRunState::idle);

    EXPECT_EQ(CodexDaemonProtocol::parse("not json").kind, Kind::unknown);
    EXPECT_EQ(CodexDaemonProtocol::threadReadRequest(3, "a\"b"),
              R"({"method":"thread/read","id":3,"params":{"threadId":"a\"b","includeTurns":false}})");
}
