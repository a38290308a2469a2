#include "app/shell/SingleInstance.hpp"

#include "app/InstanceName.hpp"
#include "app/LaunchPlan.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/Logger.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr char answer[] = "ok\n";
// How long the first copy waits for a connection's whole message.
constexpr int connectionBoundMs = 5000;

using Clock = std::chrono::steady_clock;

Logger& log() {
    static Logger logger("App");
    return logger;
}

bool unixAddress(const std::filesystem::path& path, sockaddr_un& address) {
    const std::string& bytes = path.native();
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (bytes.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, bytes.data(), bytes.size());
    return true;
}

// The address of an abstract name: a NUL, then the name, its length counting
// no more than those bytes.
socklen_t abstractAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), std::min(name.size(), sizeof address.sun_path - 1));
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 +
                                  std::min(name.size(), sizeof address.sun_path - 1));
}

// The user of the process at the other end of a connected socket (for a
// listening one, of the process that made it listen).
std::optional<uid_t> peerUser(int descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    return credentials.uid;
}

bool peerIsThisUser(int descriptor) { return peerUser(descriptor) == ::getuid(); }

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the event on the descriptor until the deadline.
bool waitFor(int descriptor, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{descriptor, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

// Sends the message, ends the sending side and reads the answer, all by the deadline.
bool exchange(int descriptor, const std::string& message, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < message.size()) {
        const ssize_t n = ::send(descriptor, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(descriptor, POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    ::shutdown(descriptor, SHUT_WR);
    std::string reply;
    char buffer[16];
    for (;;) {
        const ssize_t n = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.append(buffer, static_cast<std::size_t>(n));
            if (reply.size() > sizeof answer) return false;
        } else if (n == 0) {
            return reply == answer;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(descriptor, POLLIN, deadline)) return false;
        } else {
            return false;
        }
    }
}

// Whether a copy listens at the socket. Only a socket of this user's is
// tried, and a link is never followed.
struct Reach {
    enum Kind { nobody, busy, connected } kind = nobody;
    int descriptor = -1;
};

Reach connectTo(const sockaddr_un& address, socklen_t length) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return {};
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return {Reach::connected, descriptor};
    const int error = errno;
    ::close(descriptor);
    return {error == EAGAIN ? Reach::busy : Reach::nobody, -1};
}

Reach reachName(const std::string& name) {
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, address);
    return connectTo(address, length);
}

Reach reachCopy(const std::filesystem::path& path) {
    struct stat status {};
    sockaddr_un address;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) || status.st_uid != ::getuid() ||
        !unixAddress(path, address))
        return {};
    return connectTo(address, sizeof address);
}

} // namespace

struct SingleInstance::Connection {
    std::string message;
    QPointer<QSocketNotifier> notifier;
    QPointer<QTimer> bound;
};

std::filesystem::path SingleInstance::lockPath() const { return folder_ / InstanceFolder::lockName; }

std::filesystem::path SingleInstance::socketPath() const { return folder_ / InstanceFolder::socketName; }

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() {
    for (auto& [descriptor, connection] : connections_) {
        delete connection->notifier;
        delete connection->bound;
        ::close(descriptor);
    }
    delete listenerNotifier_;
    if (listener_ >= 0) ::close(listener_);
    // The name is free again once its socket is closed.
    delete nameNotifier_;
    if (nameListener_ >= 0) ::close(nameListener_);
    // Only the socket this copy made: once its lock was removed (by hand, or
    // by the clean-up of the runtime folder) another copy may listen there.
    // (QLockFile removes whatever lock file is there when it lets go; a copy
    // that made a new one is still found at its socket.)
    struct stat status {};
    if (socketFile_ && ::lstat(socketPath().c_str(), &status) == 0 && status.st_dev == socketFile_->first &&
        status.st_ino == socketFile_->second)
        ::unlink(socketPath().c_str());
}

std::optional<InstanceFolder::Refusal> SingleInstance::openLock(const std::filesystem::path& folder) {
    const auto path = folder / InstanceFolder::lockName;
    // Whatever else has that name (a link, a folder) is nobody's lock, and is
    // left alone.
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && (!S_ISREG(status.st_mode) || status.st_uid != ::getuid()))
        return InstanceFolder::Refusal{
            folder, "no-lock", std::string("its ") + InstanceFolder::lockName + " is not a lock file of this user's"};
    auto lock = std::make_unique<QLockFile>(QFile::decodeName(path.c_str()));
    // Only a lock whose process is gone is stale, however old it is.
    lock->setStaleLockTime(0);
    errno = 0;
    if (!lock->tryLock(0) && lock->error() != QLockFile::LockFailedError) {
        // Nothing tells of another copy here, and without a lock this one is
        // not alone: the next folder serves.
        const int error = errno;
        return InstanceFolder::Refusal{folder, "no-lock",
                                       std::string("no lock can be made in it (") +
                                           (error ? std::strerror(error) : "unknown error") + ")"};
    }
    lock_ = std::move(lock);
    return std::nullopt;
}

void SingleInstance::listenHere() {
    const auto socketFile = socketPath();
    // The lock is this copy's and nobody answered there: a dead copy's socket.
    ::unlink(socketFile.c_str());
    sockaddr_un address;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor >= 0 && unixAddress(socketFile, address) &&
        ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(descriptor, 16) == 0) {
        listener_ = descriptor;
        struct stat status {};
        if (::lstat(socketFile.c_str(), &status) == 0) socketFile_ = std::pair(status.st_dev, status.st_ino);
    } else {
        log().error("app.instance.listen.failed path=" + socketFile.string() + " error=" + std::strerror(errno));
        if (descriptor >= 0) ::close(descriptor);
    }
    // The sticky bit keeps both from the runtime folder's clean-up of files
    // left untouched for hours.
    for (const auto& file : {lockPath(), socketFile}) {
        if (listener_ < 0 && file == socketFile) continue;
        if (::fchmodat(AT_FDCWD, file.c_str(), S_IRUSR | S_IWUSR | S_ISVTX, AT_SYMLINK_NOFOLLOW) != 0)
            log().error("app.instance.sticky.failed path=" + file.string() + " error=" + std::strerror(errno));
    }
}

void SingleInstance::refuseName(const std::string& code, const std::string& reason) {
    if (nameRefused_) return;
    nameRefused_ = true;
    std::fprintf(stderr, "brindleaf: not using the name @%s to find a running copy: %s\n", name_.c_str(),
                 reason.c_str());
    log().error("app.instance.name.refused name=@" + name_ + " reason=" + code);
}

// Whoever listens at the name is asked who they are before anything is sent.
std::optional<SingleInstance::Role> SingleInstance::handToNamedCopy(const std::string& message,
                                                                    std::chrono::steady_clock::time_point deadline) {
    while (!nameRefused_) {
        const Reach reach = reachName(name_);
        if (reach.kind == Reach::nobody) return std::nullopt;
        if (reach.kind == Reach::busy) {
            // A full queue tells nothing of its owner, and one that takes no
            // connection must not hold this start.
            refuseName("busy", "whoever holds it takes no connection");
            return std::nullopt;
        }
        const auto owner = peerUser(reach.descriptor);
        if (owner != ::getuid()) {
            ::close(reach.descriptor);
            refuseName("owner", owner ? "it is held by user " + std::to_string(*owner)
                                      : std::string("who holds it cannot be told"));
            return std::nullopt;
        }
        const bool taken = exchange(reach.descriptor, message, deadline);
        ::close(reach.descriptor);
        if (taken) return Role::handedOver;
        // Closed unanswered: the copy may be ending, and the name free soon.
        const int left = remainingMs(deadline);
        if (left == 0) return Role::noAnswer;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 50)));
    }
    return std::nullopt;
}

bool SingleInstance::claimName() {
    for (int attempt = 0; attempt < 2 && !nameRefused_; ++attempt) {
        sockaddr_un address;
        const socklen_t length = abstractAddress(name_, address);
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor >= 0 && ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(descriptor, 16) == 0) {
            nameListener_ = descriptor;
            return true;
        }
        const int error = errno;
        if (descriptor >= 0) ::close(descriptor);
        if (error != EADDRINUSE) {
            log().error("app.instance.listen.failed path=@" + name_ + " error=" + std::strerror(error));
            return true;
        }
        // Taken since this start looked: by whom?
        const Reach reach = reachName(name_);
        if (reach.kind == Reach::connected) {
            const auto owner = peerUser(reach.descriptor);
            ::close(reach.descriptor);
            // A copy of this user's, started at the same time in another folder.
            if (owner == ::getuid()) return false;
            refuseName("owner", owner ? "it is held by user " + std::to_string(*owner)
                                      : std::string("who holds it cannot be told"));
        } else if (reach.kind == Reach::busy) {
            refuseName("busy", "whoever holds it takes no connection");
        } else if (attempt == 1) {
            // Bound, and nobody listens: a process that only keeps the name.
            refuseName("no-listener", "another process holds it without listening");
        }
    }
    return true;
}

SingleInstance::Role SingleInstance::start(const std::string& message, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    const auto roots = InstanceFolder::Roots::ofThisProcess();
    // The folders are looked at first: a start that hands over names those
    // passed over, as a start that went through the choice says them.
    std::vector<InstanceFolder::Refusal> passedOver;
    const auto folders = InstanceFolder::candidates(roots, &passedOver);
    const auto handedOver = [&] {
        for (const auto& refusal : passedOver)
            std::fprintf(stderr, "brindleaf: not using %s for the instance lock: %s\n", refusal.folder.c_str(),
                         refusal.reason.c_str());
        return Role::handedOver;
    };
    // The user's name is found whatever this start's environment.
    name_ = InstanceName::forUser(roots.user, UserHomeDirectory::path());
    if (const auto role = handToNamedCopy(message, deadline)) return *role == Role::handedOver ? handedOver() : *role;
    // A copy that holds no name (another user took it first) may run in any
    // folder a start could choose (started with another XDG_RUNTIME_DIR, or
    // when an earlier folder did not serve): it is looked for in each, in
    // order, before a lock is taken anywhere.
    for (const auto& folder : folders) {
        const Reach reach = reachCopy(folder / InstanceFolder::socketName);
        if (reach.kind != Reach::connected) continue;
        const bool taken = peerIsThisUser(reach.descriptor) && exchange(reach.descriptor, message, deadline);
        ::close(reach.descriptor);
        if (taken) return handedOver();
    }
    const auto choice =
        InstanceFolder::choose(roots, [this](const std::filesystem::path& folder) { return openLock(folder); });
    for (const auto& refusal : choice.refused) {
        std::fprintf(stderr, "brindleaf: not using %s for the instance lock: %s\n", refusal.folder.c_str(),
                     refusal.reason.c_str());
        log().error("app.instance.folder.refused path=" + refusal.folder.string() + " reason=" + refusal.code);
    }
    if (!choice.folder) return Role::noFolder;
    folder_ = *choice.folder;
    for (;;) {
        if (!lock_->isLocked()) lock_->tryLock(0);
        switch (const Reach reach = reachCopy(socketPath()); reach.kind) {
        case Reach::connected: {
            // A copy listens: it is the running one, though its lock file may
            // have been removed (and just made again by this start).
            if (lock_->isLocked()) lock_->unlock();
            const bool taken = peerIsThisUser(reach.descriptor) && exchange(reach.descriptor, message, deadline);
            ::close(reach.descriptor);
            if (taken) return Role::handedOver;
            // Closed unanswered: the copy may be ending, and its lock free soon.
            break;
        }
        case Reach::busy:
            // Its queue is full: a copy listens, and is slow.
            if (lock_->isLocked()) lock_->unlock();
            break;
        case Reach::nobody:
            if (lock_->isLocked()) {
                // The name is taken before anything else: a copy of this
                // user's that took it meanwhile (in another folder) is the
                // running one.
                if (claimName()) {
                    listenHere();
                    return Role::first;
                }
                lock_->unlock();
                if (const auto role = handToNamedCopy(message, deadline)) return *role;
                break;
            }
            // No socket yet, or one left by a dead copy.
            break;
        }
        const int left = remainingMs(deadline);
        if (left == 0) return Role::noAnswer;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 50)));
    }
}

void SingleInstance::listen(std::function<void(std::vector<std::string>)> onLaunch) {
    onLaunch_ = std::move(onLaunch);
    // The socket beside the lock and the name alike.
    for (const auto& [descriptor, notifier] :
         {std::pair(listener_, &listenerNotifier_), std::pair(nameListener_, &nameNotifier_)}) {
        if (descriptor < 0) continue;
        *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(*notifier, &QSocketNotifier::activated, [this, descriptor] { acceptConnections(descriptor); });
        // Starts that connected before the event loop ran are waiting already.
        acceptConnections(descriptor);
    }
}

void SingleInstance::acceptConnections(int listener) {
    for (;;) {
        const int descriptor = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (!peerIsThisUser(descriptor)) {
            log().error("app.instance.handoff.refused reason=other-user");
            ::close(descriptor);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(connection->notifier, &QSocketNotifier::activated,
                         [this, descriptor] { readFrom(descriptor); });
        connection->bound = new QTimer(QCoreApplication::instance());
        connection->bound->setSingleShot(true);
        QObject::connect(connection->bound, &QTimer::timeout, [this, descriptor] {
            log().error("app.instance.handoff.dropped reason=timeout");
            drop(descriptor);
        });
        connection->bound->start(connectionBoundMs);
        connections_[descriptor] = std::move(connection);
    }
}

void SingleInstance::readFrom(int descriptor) {
    auto found = connections_.find(descriptor);
    if (found == connections_.end()) return;
    std::string& message = found->second->message;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (n > 0) {
            message.append(buffer, static_cast<std::size_t>(n));
            if (message.size() > LaunchPlan::handoffMessageLimit) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n < 0) break;
        // The whole message: answer, then act on it. A start that gave up
        // waiting has closed its end, and its flags are not acted on later.
        const auto flags = LaunchPlan::parseHandoff(message);
        const bool answered = flags && ::send(descriptor, answer, sizeof answer - 1, MSG_NOSIGNAL) ==
                                           static_cast<ssize_t>(sizeof answer - 1);
        drop(descriptor);
        if (!flags) log().error("app.instance.handoff.refused reason=malformed");
        if (answered && onLaunch_) onLaunch_(*flags);
        return;
    }
    log().error("app.instance.handoff.refused reason=unreadable");
    drop(descriptor);
}

void SingleInstance::drop(int descriptor) {
    auto found = connections_.find(descriptor);
    if (found == connections_.end()) return;
    // Called from their own signals: deleted once those have returned.
    if (found->second->notifier) {
        found->second->notifier->setEnabled(false);
        found->second->notifier->deleteLater();
    }
    if (found->second->bound) {
        found->second->bound->stop();
        found->second->bound->deleteLater();
    }
    ::close(descriptor);
    connections_.erase(found);
}

} // namespace brindleaf
