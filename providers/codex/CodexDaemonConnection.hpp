#pragma once

#include "providers/codex/CodexDaemonProtocol.hpp"
#include "providers/codex/CodexOfficialThreadStatus.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace boost::asio {
class io_context;
}

namespace brindleaf {

// One connection to the Codex daemon's control socket: a WebSocket over the
// Unix socket, then initialize, initialized, the loaded threads (all pages)
// and one thread/read per thread; after that it follows the daemon's
// notifications (status changes, started, closed and renamed threads), reading
// a thread once when it starts. Requests of the daemon's are answered with an
// error. Runs on the io_context's thread; threads() may be called from any.
class CodexDaemonConnection : public std::enable_shared_from_this<CodexDaemonConnection> {
public:
    struct Events {
        std::function<void()> ready;                  // the first list and its reads are done
        std::function<void()> changed;                // a thread's status, name or presence changed, once ready
        std::function<void(const std::string&)> lost; // the connection ended (the reason); not after close()
    };

    // Largest message read; a longer one ends the connection.
    static constexpr std::size_t maxMessageBytes = 16u << 20;

    // Starts connecting to `socketPath`; the events run on the io_context's thread.
    static std::shared_ptr<CodexDaemonConnection> start(boost::asio::io_context& context, const std::string& socketPath,
                                                        std::string clientVersion, Events events);
    ~CodexDaemonConnection();
    CodexDaemonConnection(const CodexDaemonConnection&) = delete;
    CodexDaemonConnection& operator=(const CodexDaemonConnection&) = delete;

    // Ends the connection without a lost event. On the io_context's thread.
    void close();

    bool isReady() const;
    // The threads read so far (ephemeral ones left out), in id order.
    std::vector<CodexOfficialThreadStatus> threads() const;

private:
    struct State;
    explicit CodexDaemonConnection(std::unique_ptr<State> state);
    void begin(const std::string& socketPath);
    void readNext();
    void handle(const std::string& text);
    void send(std::string message);
    void writeNext();
    void requestList(const std::optional<std::string>& cursor);
    void requestRead(const std::string& threadID);
    void checkReady();
    void fail(const std::string& reason);
    void notifyChanged();

    std::unique_ptr<State> state_;
    mutable std::mutex lock_; // guards threads_ and ready_ for readers on other threads
    std::vector<CodexOfficialThreadStatus> threads_;
    bool ready_ = false;
};

} // namespace brindleaf
