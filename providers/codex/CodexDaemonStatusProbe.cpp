#include "providers/codex/CodexDaemonStatusProbe.hpp"

#include "platform/FileEventSource.hpp"
#include "providers/codex/CodexDaemonConnection.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <pthread.h>
#include <unistd.h>
#include <unordered_map>

namespace brindleaf {

namespace net = boost::asio;

namespace {

std::chrono::steady_clock::duration seconds(double value) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(value));
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

// The follow mode's event loop: everything below runs on its thread.
struct CodexDaemonStatusProbe::Follower {
    enum class Watched { home, controlFolder, socketFolder };

    explicit Follower(CodexDaemonStatusProbe& probe) : probe(probe), retryDelay(probe.options_.firstRetry) {}

    void run() {
        net::post(context, [this] { attempt(); });
        thread = std::thread([this] { context.run(); });
    }

    void stop() {
        context.stop();
        if (thread.joinable()) thread.join();
    }

    void attempt() {
        if (connection) return;
        const std::string published = probe.publishedSocketPath();
        const PrivateSocketPath::Resolution resolution = PrivateSocketPath::resolve(published, probe.options_.user);
        probe.noteRefusal(resolution.refusal);
        if (!resolution.socket) {
            watchFolders();
            scheduleRetry();
            return;
        }
        CodexDaemonConnection::Events events;
        events.ready = [this] { ready(); };
        events.changed = [this] { changed(); };
        events.lost = [this](const std::string& reason) { lost(reason); };
        connection =
            CodexDaemonConnection::start(context, *resolution.socket, probe.options_.clientVersion, std::move(events));
        socketPath = *resolution.socket;
        // A daemon that takes the connection but does not answer is left.
        syncTimer.expires_after(seconds(probe.options_.initialSyncBound));
        std::weak_ptr<CodexDaemonConnection> attempted = connection;
        syncTimer.async_wait([this, attempted](const boost::system::error_code& error) {
            auto current = attempted.lock();
            if (error || !current || current != connection || current->isReady()) return;
            current->close();
            lost("timeout");
        });
    }

    void ready() {
        syncTimer.cancel();
        retryTimer.cancel();
        retryDelay = probe.options_.firstRetry;
        stopWatching();
        const auto threads = connection->threads();
        {
            std::lock_guard<std::mutex> guard(probe.lock_);
            probe.connected_ = true;
            probe.followed_ = std::make_shared<const std::vector<CodexOfficialThreadStatus>>(threads);
        }
        probe.logger_.notice("codex.daemon.connected socket=" + socketPath +
                             " threads=" + std::to_string(threads.size()));
        probe.notifyChange();
    }

    void changed() {
        {
            std::lock_guard<std::mutex> guard(probe.lock_);
            if (!probe.connected_) return;
            probe.followed_ = std::make_shared<const std::vector<CodexOfficialThreadStatus>>(connection->threads());
        }
        probe.notifyChange();
    }

    void lost(const std::string& reason) {
        connection.reset();
        syncTimer.cancel();
        bool wasConnected = false;
        {
            std::lock_guard<std::mutex> guard(probe.lock_);
            wasConnected = probe.connected_;
            probe.connected_ = false;
            probe.followed_.reset();
        }
        if (wasConnected) {
            probe.logger_.notice("codex.daemon.lost socket=" + socketPath + " reason=" + reason);
            probe.notifyChange();
        }
        watchFolders();
        scheduleRetry();
    }

    void scheduleRetry() {
        if (retryPending) return;
        retryPending = true;
        retryTimer.expires_after(seconds(retryDelay));
        retryDelay = std::min(retryDelay * 2, probe.options_.maxRetry);
        retryTimer.async_wait([this](const boost::system::error_code& error) {
            retryPending = false;
            if (!error) attempt();
        });
    }

    // Watches Codex's home (for the control folder to appear), the control
    // folder and the socket's folder, whichever exist, while no daemon is connected.
    void watchFolders() {
        if (!events) {
            events = InotifyFileEventSource::create();
            if (!events) return; // the retries alone will find the daemon
            const int copy = ::dup(events->descriptor());
            if (copy < 0) {
                events.reset();
                return;
            }
            descriptor.emplace(context, copy);
            waitForEvents();
        }
        const std::string control = probe.options_.codexHome + "/" + controlFolderName;
        const auto watch = [&](const std::string& path, Watched what) {
            if (auto id = events->watchPath(path)) watches[*id] = what;
        };
        watch(probe.options_.codexHome, Watched::home);
        watch(control, Watched::controlFolder);
        char target[4096];
        const ssize_t length = ::readlink(probe.publishedSocketPath().c_str(), target, sizeof target - 1);
        if (length > 0 && target[0] == '/')
            watch(parentOf(std::string(target, static_cast<std::size_t>(length))), Watched::socketFolder);
    }

    void stopWatching() {
        if (!events) return;
        for (const auto& [id, what] : watches) events->unwatch(id);
        watches.clear();
    }

    void waitForEvents() {
        descriptor->async_wait(net::posix::stream_descriptor::wait_read,
                               [this](const boost::system::error_code& error) {
                                   if (error) return;
                                   const FileEventSource::ReadResult result = events->read();
                                   bool relevant = result.overflowed;
                                   for (const auto& event : result.events) {
                                       auto found = watches.find(event.watch);
                                       if (found == watches.end()) continue;
                                       // Codex's own files in its home change all the time; only the control folder
                                       // matters there.
                                       if (found->second != Watched::home || event.name == controlFolderName)
                                           relevant = true;
                                       if (event.watchEnded) watches.erase(found);
                                   }
                                   if (relevant && !connection) attempt();
                                   waitForEvents();
                               });
    }

    CodexDaemonStatusProbe& probe;
    net::io_context context;
    net::executor_work_guard<net::io_context::executor_type> work{context.get_executor()};
    net::steady_timer retryTimer{context};
    net::steady_timer syncTimer{context};
    std::unique_ptr<InotifyFileEventSource> events;
    std::optional<net::posix::stream_descriptor> descriptor;
    std::unordered_map<int, Watched> watches;
    std::shared_ptr<CodexDaemonConnection> connection;
    std::string socketPath;
    double retryDelay;
    bool retryPending = false;
    std::thread thread;
};

CodexDaemonStatusProbe::CodexDaemonStatusProbe(Options options) : options_(std::move(options)) {
    if (options_.mode == Mode::follow) {
        follower_ = std::make_unique<Follower>(*this);
        follower_->run();
    }
}

CodexDaemonStatusProbe::~CodexDaemonStatusProbe() {
    if (follower_) follower_->stop();
}

std::string CodexDaemonStatusProbe::publishedSocketPath() const {
    return options_.codexHome + "/" + controlFolderName + "/" + socketName;
}

bool CodexDaemonStatusProbe::isConnected() const {
    std::lock_guard<std::mutex> guard(lock_);
    return connected_;
}

double CodexDaemonStatusProbe::followerCPUSeconds() const {
    if (!follower_) return 0;
    clockid_t clock;
    if (pthread_getcpuclockid(const_cast<std::thread&>(follower_->thread).native_handle(), &clock) != 0) return 0;
    timespec spent{};
    if (::clock_gettime(clock, &spent) != 0) return 0;
    return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) / 1e9;
}

void CodexDaemonStatusProbe::setChangeHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> guard(lock_);
    changeHandler_ = std::move(handler);
}

void CodexDaemonStatusProbe::notifyChange() {
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handler = changeHandler_;
    }
    if (handler) handler();
}

void CodexDaemonStatusProbe::noteRefusal(const std::optional<PrivateSocketPath::Refusal>& refusal) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (loggedRefusal_ == refusal) return;
        loggedRefusal_ = refusal;
    }
    if (refusal) logger_.error("codex.daemon.refused path=" + refusal->path + " reason=" + refusal->code);
}

std::vector<CodexOfficialThreadStatus> CodexDaemonStatusProbe::fetchSnapshot(Date scanTime) {
    return *fetchSharedSnapshot(scanTime);
}

std::shared_ptr<const std::vector<CodexOfficialThreadStatus>> CodexDaemonStatusProbe::fetchSharedSnapshot(Date) {
    // Never destroyed: a scan still running while the process exits may hand it out.
    static const auto& none = *new std::shared_ptr<const std::vector<CodexOfficialThreadStatus>>(
        std::make_shared<const std::vector<CodexOfficialThreadStatus>>());
    if (options_.mode == Mode::once) return std::make_shared<const std::vector<CodexOfficialThreadStatus>>(fetchOnce());
    std::lock_guard<std::mutex> guard(lock_);
    return followed_ ? followed_ : none;
}

// One connection on the calling thread, closed after the reads or at the bound.
std::vector<CodexOfficialThreadStatus> CodexDaemonStatusProbe::fetchOnce() {
    const PrivateSocketPath::Resolution resolution = PrivateSocketPath::resolve(publishedSocketPath(), options_.user);
    noteRefusal(resolution.refusal);
    if (!resolution.socket) return {};
    net::io_context context;
    CodexDaemonConnection::Events events;
    events.ready = [&] { context.stop(); };
    events.lost = [&](const std::string&) { context.stop(); };
    auto connection =
        CodexDaemonConnection::start(context, *resolution.socket, options_.clientVersion, std::move(events));
    context.run_for(seconds(options_.onceBound));
    // What was read so far counts even when the daemon did not finish in time.
    std::vector<CodexOfficialThreadStatus> threads = connection->threads();
    connection->close();
    return threads;
}

} // namespace brindleaf
