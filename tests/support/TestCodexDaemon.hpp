#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf::testing {

// A stand-in for the Codex daemon: a WebSocket server on a Unix socket that
// speaks the daemon's JSON-RPC (initialize, thread/loaded/list with pages,
// thread/read) and sends what a test asks for to every client (status
// changes, started, closed and renamed threads, a request of its own). It can
// answer late or never, die (socket gone, clients cut off) and come back. It
// records every method the clients sent and every answer to its requests.
class TestCodexDaemon {
public:
    struct Thread {
        std::string id;
        std::string type = "idle"; // "idle", "active", "systemError", "notLoaded"
        std::vector<std::string> flags = {};
        std::optional<std::string> path = std::nullopt;
        std::optional<std::string> name = std::nullopt;
        std::string cwd = "/work/project";
        bool ephemeral = false;
    };

    // Listens at `socketPath` (mode 0600) at once.
    explicit TestCodexDaemon(std::filesystem::path socketPath);
    ~TestCodexDaemon();
    TestCodexDaemon(const TestCodexDaemon&) = delete;
    TestCodexDaemon& operator=(const TestCodexDaemon&) = delete;

    // The loaded threads (thread/loaded/list lists them, thread/read reads them).
    void setThreads(std::vector<Thread> threads);
    // Ids per page of thread/loaded/list (0: one page).
    void setPageSize(std::size_t size);
    // Every answer is sent this many seconds after its request; a negative delay: never.
    void setAnswerDelay(double seconds);

    // To every initialized client; the thread table is updated first.
    void changeStatus(const std::string& id, const std::string& type, std::vector<std::string> flags = {});
    void startThread(const Thread& thread);
    void closeThread(const std::string& id);
    void renameThread(const std::string& id, const std::string& name);
    void sendRequest(const std::string& method);

    // Dies: the socket file goes and every client is cut off. start() comes back.
    void stop();
    void start();

    // Clients connected now, and all connections accepted so far.
    std::size_t openConnections() const;
    std::size_t acceptedConnections() const;
    // Every method the clients sent, in order.
    std::vector<std::string> methodsReceived() const;
    // The clients' messages that answered one of the daemon's requests.
    std::vector<std::string> answersToRequests() const;
    const std::filesystem::path& socketPath() const { return socketPath_; }

private:
    struct Impl;
    std::filesystem::path socketPath_;
    std::unique_ptr<Impl> impl_;
};

} // namespace brindleaf::testing
