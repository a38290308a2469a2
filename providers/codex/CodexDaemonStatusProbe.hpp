#pragma once

#include "platform/Logger.hpp"
#include "platform/PrivateSocketPath.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

namespace brindleaf {

class CodexDaemonConnection;

// The thread statuses of the Codex daemon ("codex app-server --managed-daemon"),
// read over its control socket, $CODEX_HOME/app-server-control/
// app-server-control.sock. The socket is used only when it and everything
// leading to it belong to this user and nobody else can write them
// (PrivateSocketPath); anything else is passed over with one log line. Only
// initialize, thread/loaded/list and thread/read are sent; nothing that acts
// on a thread.
//
// Two modes:
//  - follow (the tray application): one connection kept open on a thread of
//    the probe's, following the daemon's notifications; fetchSnapshot returns
//    what is known without any I/O. The daemon's disappearance and return are
//    noticed through the socket, its folders' change events and a retry with
//    back-off (0.5 s doubling to 30 s).
//  - once (the headless modes): every fetchSnapshot connects, reads and
//    closes within `onceBound` seconds, whatever the daemon does.
class CodexDaemonStatusProbe final : public CodexOfficialStatusProbe {
public:
    enum class Mode { follow, once };

    struct Options {
        std::string codexHome;
        std::string clientVersion;
        Mode mode = Mode::follow;
        uid_t user = 0;
        double onceBound = 0.5;        // seconds a once-mode fetch may take in all
        double initialSyncBound = 5.0; // seconds a followed daemon has to answer the first reads
        double firstRetry = 0.5;
        double maxRetry = 30.0;
    };

    static constexpr const char* controlFolderName = "app-server-control";
    static constexpr const char* socketName = "app-server-control.sock";

    explicit CodexDaemonStatusProbe(Options options);
    ~CodexDaemonStatusProbe() override;
    CodexDaemonStatusProbe(const CodexDaemonStatusProbe&) = delete;
    CodexDaemonStatusProbe& operator=(const CodexDaemonStatusProbe&) = delete;

    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date scanTime) override;
    std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> fetchSharedSnapshot(Date scanTime) override;
    void setChangeHandler(std::function<void()> handler) override;

    const Options& options() const { return options_; }
    std::string publishedSocketPath() const;
    // Follow mode: whether a daemon is connected and its threads were read.
    bool isConnected() const;
    // Follow mode: CPU seconds the follower thread has used so far.
    double followerCPUSeconds() const;

private:
    struct Follower;

    // Logs a refusal when it differs from the last one logged.
    void noteRefusal(const std::optional<PrivateSocketPath::Refusal>& refusal);
    std::vector<CodexOfficialThreadStatus> fetchOnce();
    void notifyChange();

    Options options_;
    Logger logger_{"Codex"};
    mutable std::mutex lock_;
    std::function<void()> changeHandler_;
    std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> followed_;
    bool connected_ = false;
    std::optional<PrivateSocketPath::Refusal> loggedRefusal_;
    std::unique_ptr<Follower> follower_;
};

} // namespace brindleaf
