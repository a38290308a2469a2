#include "platform/SwayIpc.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindleaf {
namespace {

constexpr std::string_view magic = "i3-ipc";
constexpr size_t headerSize = magic.size() + 2 * sizeof(uint32_t);
constexpr size_t answerLimit = 64 * 1024 * 1024;
using Clock = std::chrono::steady_clock;

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::string& path, Clock::time_point deadline) {
        sockaddr_un address{};
        if (path.size() >= sizeof(address.sun_path)) return false;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            // A full backlog (EAGAIN) is a compositor that does not accept: given up at once.
            if (errno != EINPROGRESS || !wait(POLLOUT, deadline)) return false;
            int error = 0;
            socklen_t length = sizeof(error);
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
        }
        // The listener, not only the file, is this user's.
        ucred peer{};
        socklen_t length = sizeof(peer);
        return ::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
    }

    bool write(std::string_view data, Clock::time_point deadline) {
        while (!data.empty()) {
            const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                data.remove_prefix(static_cast<size_t>(sent));
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else if (sent < 0 && errno == EAGAIN) {
                if (!wait(POLLOUT, deadline)) return false;
            } else {
                return false;
            }
        }
        return true;
    }

    bool read(char* into, size_t size, Clock::time_point deadline) {
        while (size > 0) {
            const ssize_t got = ::recv(fd_, into, size, 0);
            if (got > 0) {
                into += got;
                size -= static_cast<size_t>(got);
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else if (got < 0 && errno == EAGAIN) {
                if (!wait(POLLIN, deadline)) return false;
            } else {
                return false;
            }
        }
        return true;
    }

private:
    bool wait(short events, Clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd entry{fd_, events, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(left));
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
    }

    int fd_ = -1;
};

void collect(const nlohmann::json& node, std::vector<SwayIpc::Window>& into) {
    if (!node.is_object()) return;
    if (const auto pid = node.find("pid"); pid != node.end() && pid->is_number_integer() && pid->get<int64_t>() > 0) {
        const auto focused = node.find("focused");
        into.push_back({pid->get<int64_t>(), focused != node.end() && focused->is_boolean() && focused->get<bool>()});
    }
    for (const char* children : {"nodes", "floating_nodes"})
        if (const auto list = node.find(children); list != node.end() && list->is_array())
            for (const auto& child : *list) collect(child, into);
}

} // namespace

SwayIpc::SwayIpc(std::string socketPath) : path_(std::move(socketPath)) {
    if (path_.empty())
        if (const char* fromEnvironment = std::getenv("SWAYSOCK")) path_ = fromEnvironment;
}

bool SwayIpc::isAvailable() const {
    struct stat status {};
    return !path_.empty() && ::lstat(path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
           status.st_uid == ::getuid();
}

std::string SwayIpc::frame(uint32_t type, std::string_view payload) {
    std::string message(magic);
    const auto length = static_cast<uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof(length));
    message.append(reinterpret_cast<const char*>(&type), sizeof(type));
    message.append(payload);
    return message;
}

std::optional<std::string> SwayIpc::request(uint32_t type, std::string_view payload) const {
    if (!isAvailable()) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    Connection connection;
    if (!connection.open(path_, deadline) || !connection.write(frame(type, payload), deadline)) return std::nullopt;
    char header[headerSize];
    if (!connection.read(header, sizeof(header), deadline) || std::string_view(header, magic.size()) != magic)
        return std::nullopt;
    uint32_t length = 0;
    uint32_t answerType = 0;
    std::memcpy(&length, header + magic.size(), sizeof(length));
    std::memcpy(&answerType, header + magic.size() + sizeof(length), sizeof(answerType));
    if (answerType != type || length > answerLimit) return std::nullopt;
    std::string answer(length, '\0');
    if (!connection.read(answer.data(), answer.size(), deadline)) return std::nullopt;
    return answer;
}

std::optional<std::vector<SwayIpc::Window>> SwayIpc::parseTree(std::string_view json) {
    const auto tree = nlohmann::json::parse(json, nullptr, false);
    if (tree.is_discarded() || !tree.is_object()) return std::nullopt;
    std::vector<Window> windows;
    collect(tree, windows);
    return windows;
}

bool SwayIpc::parseCommandResult(std::string_view json) {
    const auto results = nlohmann::json::parse(json, nullptr, false);
    if (results.is_discarded() || !results.is_array() || results.empty()) return false;
    for (const auto& result : results) {
        const auto success = result.is_object() ? result.find("success") : result.end();
        if (!result.is_object() || success == result.end() || !success->is_boolean() || !success->get<bool>())
            return false;
    }
    return true;
}

std::optional<std::vector<SwayIpc::Window>> SwayIpc::windows() const {
    const auto answer = request(getTree, {});
    return answer ? parseTree(*answer) : std::nullopt;
}

bool SwayIpc::focus(int64_t pid) const {
    const auto answer = request(runCommand, "[pid=" + std::to_string(pid) + "] focus");
    return answer && parseCommandResult(*answer);
}

} // namespace brindleaf
