#include "tests/support/TestHttpServer.hpp"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace brindleaf::testing {

namespace {

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

TestHttpServer::TestHttpServer(Response response, bool neverAnswer)
    : defaultResponse_(std::move(response)), neverAnswer_(neverAnswer) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { run(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    thread_.join();
    for (int fd : heldClients_) ::close(fd);
    ::close(listener_);
}

std::string TestHttpServer::url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

void TestHttpServer::setResponse(const std::string& path, Response response) {
    std::lock_guard<std::mutex> guard(lock_);
    responses_.insert_or_assign(path, std::move(response));
}

void TestHttpServer::setDefaultResponse(Response response) {
    std::lock_guard<std::mutex> guard(lock_);
    defaultResponse_ = std::move(response);
}

void TestHttpServer::setNeverAnswer(bool neverAnswer) {
    std::lock_guard<std::mutex> guard(lock_);
    neverAnswer_ = neverAnswer;
}

std::vector<std::string> TestHttpServer::requestLines() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> lines;
    for (const auto& head : requestHeads_) lines.push_back(head.substr(0, head.find("\r\n")));
    return lines;
}

std::vector<std::string> TestHttpServer::requestHeads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requestHeads_;
}

std::size_t TestHttpServer::requestCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requestHeads_.size();
}

void TestHttpServer::run() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        serve(client);
    }
}

void TestHttpServer::serve(int client) {
    std::string head;
    char buffer[4096];
    // Read the request head: bounded in size, and in time generously enough
    // for a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd readable{client, POLLIN, 0};
        if (::poll(&readable, 1, 20) <= 0) {
            if (stopping_) break;
            continue;
        }
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
    }
    // "GET /path?query HTTP/1.1": the path picks the answer.
    const std::string line = head.substr(0, head.find("\r\n"));
    const auto pathStart = line.find(' ');
    std::string path = pathStart == std::string::npos ? std::string() : line.substr(pathStart + 1);
    path = path.substr(0, path.find(' '));
    path = path.substr(0, path.find('?'));
    std::string answer;
    {
        std::lock_guard<std::mutex> guard(lock_);
        requestHeads_.push_back(head.substr(0, head.find("\r\n\r\n")));
        if (neverAnswer_) {
            heldClients_.push_back(client); // keep it open, silent, until the server goes
            return;
        }
        const auto found = responses_.find(path);
        const Response& response = found == responses_.end() ? defaultResponse_ : found->second;
        answer = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) +
                 "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(response.body.size()) +
                 "\r\nConnection: close\r\n" + response.extraHeaders + "\r\n" + response.body;
    }
    std::size_t sent = 0;
    for (int rounds = 0; sent < answer.size() && rounds < 100000 && !stopping_; ++rounds) {
        const ssize_t wrote = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) break;
        sent += static_cast<std::size_t>(wrote);
    }
    ::shutdown(client, SHUT_WR);
    ::close(client);
}

int closedLoopbackPort() {
    int port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd); // nothing listens there any more
    return port;
}

} // namespace brindleaf::testing
