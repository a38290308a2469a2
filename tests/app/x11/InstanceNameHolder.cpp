#include "tests/app/x11/InstanceNameHolder.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindleaf::testing {

InstanceNameHolder::InstanceNameHolder(const std::string& name, Kind kind, uid_t user) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    descriptor_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const uid_t self = ::geteuid();
    if (descriptor_ < 0 || ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        failure_ = std::string("the name could not be bound: ") + std::strerror(errno);
        return;
    }
    if (kind == Kind::bound) return;
    if (user != self && ::seteuid(user) != 0) {
        failure_ = "could not become user " + std::to_string(user) + ": " + std::strerror(errno);
        return;
    }
    if (::listen(descriptor_, 16) != 0) failure_ = std::string("could not listen: ") + std::strerror(errno);
    if (user != self && ::seteuid(self) != 0) failure_ = "could not become user " + std::to_string(self) + " again";
}

InstanceNameHolder::~InstanceNameHolder() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

InstanceNameHolder::Heard InstanceNameHolder::hear() {
    Heard heard;
    for (int connection; (connection = ::accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        ++heard.connections;
        char buffer[256];
        // A start that connected and closed has nothing more to send; one
        // that keeps sending is read for 5 s at most.
        pollfd entry{connection, POLLIN, 0};
        while (::poll(&entry, 1, 5000) > 0) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            heard.bytes.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(connection);
    }
    return heard;
}

} // namespace brindleaf::testing
