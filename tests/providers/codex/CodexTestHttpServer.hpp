#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindleaf::testing {

// A tiny HTTP server on 127.0.0.1 (ephemeral port) that answers every request
// with one configured response, or never answers at all. Stopped and joined
// when the object goes.
class CodexTestHttpServer {
public:
    struct Response {
        Response(int status, std::string body, std::string extraHeaders = {})
            : status(status), body(std::move(body)), extraHeaders(std::move(extraHeaders)) {}
        int status = 200;
        std::string body;
        std::string extraHeaders; // each line ending in "\r\n"
    };

    explicit CodexTestHttpServer(Response response, bool neverAnswer = false);
    ~CodexTestHttpServer();
    CodexTestHttpServer(const CodexTestHttpServer&) = delete;
    CodexTestHttpServer& operator=(const CodexTestHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery = "") const;
    // The request lines received so far ("GET /status HTTP/1.1").
    std::vector<std::string> requestLines() const;

private:
    void run();
    void serve(int client);

    Response response_;
    bool neverAnswer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<std::string> requestLines_;
    std::vector<int> heldClients_;
    std::thread thread_;
};

// A loopback port with nothing listening on it.
int closedLoopbackPort();

} // namespace brindleaf::testing
