#include "platform/SwayIpc.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

std::string header(uint32_t length, uint32_t type) {
    std::string bytes = "i3-ipc";
    bytes.append(reinterpret_cast<const char*>(&length), sizeof(length));
    bytes.append(reinterpret_cast<const char*>(&type), sizeof(type));
    return bytes;
}

// A listening socket that takes one request and writes `answer` back.
class OnePeer {
public:
    OnePeer(const std::filesystem::path& path, std::string answer) : path_(path) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_, 1), 0);
        server_ = std::thread([this, answer = std::move(answer)] {
            const int peer = ::accept(listener_, nullptr, nullptr);
            if (peer < 0) return;
            char bytes[4096];
            uint32_t length = 0;
            size_t have = 0;
            while (have < 14 || have < 14 + length) {
                const ssize_t got = ::recv(peer, bytes + have, sizeof(bytes) - have, 0);
                if (got <= 0) break;
                have += static_cast<size_t>(got);
                if (have >= 14) std::memcpy(&length, bytes + 6, sizeof(length));
            }
            received_.assign(bytes, have);
            (void)!::write(peer, answer.data(), answer.size());
            ::close(peer);
        });
    }
    ~OnePeer() {
        ::shutdown(listener_, SHUT_RDWR);
        server_.join();
        ::close(listener_);
    }
    std::string received() {
        server_.join();
        server_ = std::thread([] {});
        return received_;
    }

private:
    std::filesystem::path path_;
    int listener_ = -1;
    std::thread server_;
    std::string received_;
};

} // namespace

TEST(SwayIpc, FramesARequestAndReadsTheAnswerOfTheSameType) {
    const struct {
        std::string answer;
        std::optional<std::string> payload;
    } cases[] = {
        {header(2, 0) + "[]", "[]"},
        {header(0, 0), ""},
        {header(2, 4) + "[]", std::nullopt},                      // an answer to another type
        {"i3-ipx" + header(2, 0).substr(6) + "[]", std::nullopt}, // not sway's magic
        {header(10, 0) + "[]", std::nullopt},                     // shorter than it says
        {header(2, 0).substr(0, 9), std::nullopt},                // cut in the header
    };
    for (const auto& c : cases) {
        TempDir folder;
        OnePeer peer(folder / "sway.sock", c.answer);
        const SwayIpc ipc((folder / "sway.sock").string());
        EXPECT_EQ(ipc.request(SwayIpc::runCommand, "[pid=42] focus"), c.payload) << c.answer.size();
        EXPECT_EQ(peer.received(), header(14, 0) + "[pid=42] focus");
    }
}

TEST(SwayIpc, UsesOnlyASocketOfThisUser) {
    TempDir folder;
    EXPECT_FALSE(SwayIpc((folder / "absent.sock").string()).isAvailable());
    EXPECT_FALSE(SwayIpc(folder.write("plain", "").string()).isAvailable());
    OnePeer peer(folder / "sway.sock", "");
    EXPECT_TRUE(SwayIpc((folder / "sway.sock").string()).isAvailable());
    ASSERT_EQ(::chown((folder / "sway.sock").c_str(), ::getuid() + 1, ::getgid()), ::getuid() == 0 ? 0 : -1);
    if (::getuid() == 0) {
        EXPECT_FALSE(SwayIpc((folder / "sway.sock").string()).isAvailable());
    }
    ::unlink((folder / "sway.sock").c_str());
    ::symlink("/nonexistent", (folder / "sway.sock").c_str());
    EXPECT_FALSE(SwayIpc((folder / "sway.sock").string()).isAvailable());
}

TEST(SwayIpc, ReadsWindowsAndCommandResults) {
    const auto tree = SwayIpc::parseTree(R"({"id":1,"nodes":[{"id":2,"nodes":[
        {"id":3,"pid":100,"focused":false,"nodes":[]},
        {"id":4,"pid":200,"focused":true,"nodes":[]}],
        "floating_nodes":[{"id":5,"pid":300,"nodes":[]}]}]})");
    EXPECT_EQ(tree, (std::vector<SwayIpc::Window>{{100, false}, {200, true}, {300, false}}));
    EXPECT_FALSE(SwayIpc::parseTree("not json"));
    EXPECT_FALSE(SwayIpc::parseTree("[]"));

    const struct {
        const char* json;
        bool success;
    } cases[] = {
        {R"([{"success":true}])", true},
        {R"([{"success":true},{"success":true}])", true},
        {R"([{"success":false,"error":"No matching node."}])", false},
        {R"([{"success":true},{"success":false}])", false},
        {"[]", false},
        {R"({"success":true})", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SwayIpc::parseCommandResult(c.json), c.success) << c.json;
}
