#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "platform/Logger.hpp"
#include "presentation/SessionNotificationRules.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class QDBusMessage;
class QDBusServiceWatcher;

namespace brindleaf {

// The desktop notifications of sessions that need the user or finished a
// long run (org.freedesktop.Notifications on the session bus). Each committed
// snapshot goes to a worker thread of its own, which applies the rules (and
// asks whether the user looks at a newly waiting session there, as that may
// take a while); the plan comes back to the main thread, which sends it. Every
// bus call is asynchronous: without a notification server nothing waits, and
// the journal says so once.
//
// Main thread only, apart from the hooks' `isInView`, which runs on the worker.
class SessionNotifier final : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Whether the session's terminal is in front of the user now (its
        // process id); bounded, called off the main thread. Empty: never.
        std::function<bool(std::int64_t pid)> isInView;
        // A notification's default action for one session.
        std::function<void(const AgentSession& session)> goToSession;
        // "Show All", and the default action of a shared notification.
        std::function<void()> openDashboard;
    };
    struct Switches {
        bool whenWaiting = true;
        bool whenFinished = true;
        bool sound = false;
    };

    static constexpr const char* appName = "Brindleaf";
    static constexpr const char* desktopEntry = "com.quorvale.Brindleaf";
    static constexpr const char* soundName = "message-new-instant";
    static constexpr const char* showAllAction = "show-all";
    static constexpr const char* showAllLabel = "Show All";
    static constexpr const char* goToSessionLabel = "Go to Session";

    // `switches` is read on the main thread at every committed snapshot.
    SessionNotifier(QDBusConnection bus, Hooks hooks, std::function<Switches()> switches, QObject* parent = nullptr);
    ~SessionNotifier() override;

    // A snapshot the status bar controller committed; the first is the baseline.
    void snapshotCommitted(const AgentStatusSnapshot& snapshot);

private slots:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Shown {
        SessionNotificationRules::Notice notice;
        uint id = 0; // 0 until the server answers
        bool closeOnceKnown = false;
    };

    void askCapabilities();
    void serverFailed(const QString& errorName, const QString& message);
    void send(const SessionNotificationRules::Plan& plan, bool sound);
    void show(SessionNotificationRules::Notice notice, bool sound);
    void close(std::uint64_t handle);
    void closeId(uint id);
    void post(std::function<void()> job);
    void work();

    QDBusConnection bus_;
    Hooks hooks_;
    std::function<Switches()> switches_;
    Logger logger_{"notifications"};
    QDBusServiceWatcher* watcher_ = nullptr;
    QStringList capabilities_;
    bool serverMissingLogged_ = false;

    std::map<std::uint64_t, Shown> shown_;
    std::map<uint, std::uint64_t> handleOfId_;

    // The worker and what only it touches.
    SessionNotificationRules rules_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace brindleaf
