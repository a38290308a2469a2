// The session bus client against a real bus daemon of the test's own.
#include "platform/SessionBus.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::PrivateSessionBus;
using brindleaf::testing::TempDir;

namespace {

const std::string daemon = "org.freedesktop.DBus";
const std::string daemonPath = "/org/freedesktop/DBus";

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(SessionBusTests, CallsMethodsReadsAnswersAndTellsWhoOwnsAName) {
    PrivateSessionBus privateBus;
    ASSERT_TRUE(privateBus.isReady()) << "the test's bus daemon did not start";
    SessionBus peer(privateBus.address());
    ASSERT_TRUE(peer.isConnected());
    // A name of this process's; it is never served, so calls to it go unanswered.
    EXPECT_EQ(SessionBus::first<int64_t>(peer.call(daemon, daemonPath, daemon, "RequestName",
                                                   {std::string("org.brindleaf.Silent"), uint32_t{0}})),
              1); // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER

    SessionBus bus(privateBus.address(), 200);
    ASSERT_TRUE(bus.isConnected());
    const auto names = SessionBus::first<std::vector<std::string>>(bus.call(daemon, daemonPath, daemon, "ListNames"));
    ASSERT_TRUE(names);
    EXPECT_TRUE(contains(*names, daemon));
    EXPECT_TRUE(contains(*names, "org.brindleaf.Silent"));
    EXPECT_EQ(bus.ownerOf("org.brindleaf.Silent"), (SessionBus::Owner{getuid(), getpid()}));
    EXPECT_EQ(bus.ownerOf("org.brindleaf.Nobody"), std::nullopt);

    // A boolean, an array of strings in a variant.
    EXPECT_EQ(SessionBus::first<bool>(bus.call(daemon, daemonPath, daemon, "NameHasOwner", {std::string(daemon)})),
              true);
    const auto interfaces =
        SessionBus::first<std::vector<std::string>>(bus.call(daemon, daemonPath, "org.freedesktop.DBus.Properties",
                                                             "Get", {std::string(daemon), std::string("Interfaces")}));
    ASSERT_TRUE(interfaces);

    // Errors, bad names and a peer that never answers all give nothing.
    EXPECT_EQ(bus.call(daemon, daemonPath, daemon, "NoSuchMethod"), std::nullopt);
    EXPECT_EQ(bus.call("not a name", daemonPath, daemon, "ListNames"), std::nullopt);
    EXPECT_EQ(bus.call(daemon, "no/path", daemon, "ListNames"), std::nullopt);
    EXPECT_EQ(bus.call("org.brindleaf.Silent", "/", "org.brindleaf.Silent", "Anything", {int32_t{1}, true}),
              std::nullopt);
    // A type not read (a dictionary).
    EXPECT_EQ(bus.call(daemon, daemonPath, daemon, "GetConnectionCredentials", {std::string(daemon)}), std::nullopt);
    // The connection still works after them.
    EXPECT_TRUE(bus.call(daemon, daemonPath, daemon, "ListNames"));
}

TEST(SessionBusTests, TakesOneAwaitedCallFromTheNamedSenderOnlyAndNothingAfterTheTimeout) {
    PrivateSessionBus privateBus;
    ASSERT_TRUE(privateBus.isReady()) << "the test's bus daemon did not start";
    SessionBus waiter(privateBus.address(), 5000);
    SessionBus peer(privateBus.address());
    SessionBus stranger(privateBus.address());
    const auto waiterName = waiter.uniqueName();
    const auto peerName = peer.uniqueName();
    ASSERT_TRUE(waiterName && peerName && stranger.isConnected());
    EXPECT_EQ(peer.uniqueOwnerOf("org.freedesktop.DBus"), "org.freedesktop.DBus");
    EXPECT_EQ(peer.uniqueOwnerOf(*waiterName), waiterName);

    std::optional<std::vector<SessionBus::Value>> fromStranger, wrongMember, fromPeer;
    std::thread callers([&] {
        // Each call waits for its answer: the stranger is refused before the peer calls.
        fromStranger = stranger.call(*waiterName, "/answer", "org.brindleaf.Test", "Window", {int32_t{7}, true});
        wrongMember = peer.call(*waiterName, "/answer", "org.brindleaf.Test", "Other", {int32_t{7}});
        fromPeer = peer.call(*waiterName, "/answer", "org.brindleaf.Test", "Window", {int32_t{42}, false});
    });
    const auto taken = waiter.awaitCall(*peerName, "/answer", "org.brindleaf.Test", "Window");
    callers.join();
    EXPECT_EQ(taken, (std::vector<SessionBus::Value>{int64_t{42}, false}));
    EXPECT_EQ(fromStranger, std::nullopt);
    EXPECT_EQ(wrongMember, std::nullopt);
    EXPECT_EQ(fromPeer, std::vector<SessionBus::Value>{});

    SessionBus impatient(privateBus.address(), 100);
    EXPECT_EQ(impatient.awaitCall(*peerName, "/answer", "org.brindleaf.Test", "Window"), std::nullopt);
}

TEST(SessionBusTests, WithoutABusOrWithOneThatNeverAnswersThereIsNoConnection) {
    const char* saved = getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string before = saved ? saved : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    SessionBus none;
    EXPECT_FALSE(none.isConnected());
    EXPECT_EQ(none.call(daemon, daemonPath, daemon, "ListNames"), std::nullopt);
    if (saved) setenv("DBUS_SESSION_BUS_ADDRESS", before.c_str(), 1);

    TempDir folder;
    EXPECT_FALSE(SessionBus("unix:path=" + (folder / "absent").string()).isConnected());

    // A socket that takes connections and never says a word.
    const std::string path = (folder / "mute").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    EXPECT_FALSE(SessionBus("unix:path=" + path, 100).isConnected());
    ::close(listener);
}

TEST(SessionBusTests, ReadsTheChildNodesOfAnIntrospection) {
    struct Case {
        std::string xml;
        std::optional<std::vector<std::string>> children;
    };
    const std::string doctype = "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
                                "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";
    const std::vector<Case> cases = {
        {doctype + "<node><interface name=\"a.b\"/><node name=\"1\"/><node name=\"2\"/></node>",
         std::vector<std::string>{"1", "2"}},
        {"<node/>", std::vector<std::string>{}},
        {"<node><node/><node name=\"x\"><node name=\"deeper\"/></node></node>", std::vector<std::string>{"x"}},
        // An internal subset declares entities: refused.
        {"<!DOCTYPE node [<!ENTITY a \"b\">]><node/>", std::nullopt},
        {"<interface/>", std::nullopt},
        {"<node>", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(SessionBus::parseChildNodes(c.xml), c.children) << c.xml;
}

} // namespace
