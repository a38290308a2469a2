#include "app/shell/SingleInstance.hpp"

#include "app/LaunchPlan.hpp"
#include "platform/Logger.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
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

bool unixAddress(const QString& path, sockaddr_un& address) {
    const QByteArray bytes = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(bytes.size()) >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

// Whether the process at the other end of a connected socket is this user's.
bool peerIsThisUser(int descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::getuid();
}

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

} // namespace

struct SingleInstance::Connection {
    std::string message;
    QPointer<QSocketNotifier> notifier;
    QPointer<QTimer> bound;
};

QString SingleInstance::lockPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // Another user's runtime folder (kept by "sudo -E") is not this user's place.
    if (folder.isEmpty() || !QDir(folder).exists() || QFileInfo(folder).ownerId() != ::getuid())
        folder = QStringLiteral("/tmp/brindleaf-%1").arg(::getuid());
    else
        folder += QStringLiteral("/brindleaf");
    return folder + QStringLiteral("/instance.lock");
}

QString SingleInstance::socketPath() {
    return QFileInfo(lockPath()).absolutePath() + QStringLiteral("/instance.socket");
}

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() {
    for (auto& [descriptor, connection] : connections_) {
        delete connection->notifier;
        delete connection->bound;
        ::close(descriptor);
    }
    delete listenerNotifier_;
    if (listener_ >= 0) {
        ::close(listener_);
        // Ours while the lock is held.
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
}

bool SingleInstance::takeLock() {
    const QString path = lockPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!lock_) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        lock_ = std::make_unique<QLockFile>(path);
        // Only a lock whose process is gone is stale, however old it is.
        lock_->setStaleLockTime(0);
    }
    if (!lock_->tryLock(0)) {
        if (lock_->error() == QLockFile::LockFailedError) return false;
        // No lock can be made here at all: nothing tells of another copy.
        log().error("app.instance.lock.failed path=" + path.toStdString());
        return true;
    }
    // A socket left here is a dead copy's.
    const QByteArray socketFile = QFile::encodeName(socketPath());
    ::unlink(socketFile.constData());
    sockaddr_un address;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor >= 0 && unixAddress(socketPath(), address) &&
        ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(descriptor, 16) == 0) {
        listener_ = descriptor;
    } else {
        log().error("app.instance.listen.failed path=" + socketPath().toStdString() + " error=" + std::strerror(errno));
        if (descriptor >= 0) ::close(descriptor);
    }
    return true;
}

SingleInstance::Role SingleInstance::start(const std::string& message, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    sockaddr_un address;
    const bool addressable = unixAddress(socketPath(), address);
    for (;;) {
        if (takeLock()) return Role::first;
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor >= 0 && addressable &&
            ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const bool taken = peerIsThisUser(descriptor) && exchange(descriptor, message, deadline);
            ::close(descriptor);
            if (taken) return Role::handedOver;
            // Closed unanswered: the copy may be ending, and its lock free soon.
        } else if (descriptor >= 0) {
            // No socket yet, one left by a dead copy, or a full queue.
            ::close(descriptor);
        }
        const int left = remainingMs(deadline);
        if (left == 0) return Role::noAnswer;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 50)));
    }
}

void SingleInstance::listen(std::function<void(std::vector<std::string>)> onLaunch) {
    if (listener_ < 0) return;
    onLaunch_ = std::move(onLaunch);
    listenerNotifier_ = new QSocketNotifier(listener_, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(listenerNotifier_, &QSocketNotifier::activated, [this] { acceptConnections(); });
    // Starts that connected before the event loop ran are waiting already.
    acceptConnections();
}

void SingleInstance::acceptConnections() {
    for (;;) {
        const int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
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
