#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brindleaf::testing {

// A tiny HTTP server on 127.0.0.1 (ephemeral port). Every request is answered
// with the response set for its path (without the query), else with the
// default response, or never answered at all. Answers may be changed while
// the server runs. Stopped and joined when the object goes.
class TestHttpServer {
public:
    struct Response {
        Response(int status, std::string body, std::string extraHeaders = {})
            : status(status), body(std::move(body)), extraHeaders(std::move(extraHeaders)) {}
        int status = 200;
        std::string body;
        std::string extraHeaders; // each line ending in "\r\n"
    };

    explicit TestHttpServer(Response response, bool neverAnswer = false);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery = "") const;

    // The answer for requests whose path is `path` ("/appcast.xml").
    void setResponse(const std::string& path, Response response);
    void setDefaultResponse(Response response);
    void setNeverAnswer(bool neverAnswer);

    // The request lines received so far ("GET /status HTTP/1.1").
    std::vector<std::string> requestLines() const;
    // The whole request heads received so far (request line and headers).
    std::vector<std::string> requestHeads() const;
    std::size_t requestCount() const;

private:
    void run();
    void serve(int client);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    Response defaultResponse_;
    std::map<std::string, Response> responses_;
    bool neverAnswer_;
    std::vector<std::string> requestHeads_;
    std::vector<int> heldClients_;
    std::thread thread_;
};

// A loopback port with nothing listening on it.
int closedLoopbackPort();

} // namespace brindleaf::testing
