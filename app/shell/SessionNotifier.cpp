#include "app/shell/SessionNotifier.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include <set>
#include <utility>

namespace brindleaf {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QString qstr(const std::string& text) { return QString::fromStdString(text); }

} // namespace

SessionNotifier::SessionNotifier(QDBusConnection bus, Hooks hooks, std::function<Switches()> switches, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), hooks_(std::move(hooks)), switches_(std::move(switches)) {
    worker_ = std::thread([this] { work(); });
    if (!bus_.isConnected()) {
        serverFailed(QStringLiteral("no session bus"), {});
        return;
    }
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
    // A server that starts (or starts again) later is asked then.
    watcher_ = new QDBusServiceWatcher(service, bus_, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        serverMissingLogged_ = false;
        askCapabilities();
    });
    askCapabilities();
}

SessionNotifier::~SessionNotifier() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

void SessionNotifier::askCapabilities() {
    auto call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QStringList> reply = *finished;
        if (reply.isError()) {
            serverFailed(reply.error().name(), reply.error().message());
            return;
        }
        capabilities_ = reply.value();
        logger_.debug("notifications.server.capabilities list=" + capabilities_.join(',').toStdString());
    });
}

void SessionNotifier::serverFailed(const QString& errorName, const QString& message) {
    if (serverMissingLogged_) return;
    serverMissingLogged_ = true;
    logger_.notice("notifications.server.missing error=" + errorName.toStdString() +
                   (message.isEmpty() ? std::string() : " reason=" + message.toStdString()));
}

void SessionNotifier::snapshotCommitted(const AgentStatusSnapshot& snapshot) {
    std::set<std::string> unread;
    for (const auto& provider : snapshot.providerSnapshots)
        if (provider.readNothing || provider.timedOut) unread.insert(provider.providerName);
    const Switches switches = switches_ ? switches_() : Switches{};
    SessionNotificationRules::Options options{switches.whenWaiting, switches.whenFinished};
    post([this, sessions = snapshot.activeSessions, unread = std::move(unread), now = snapshot.checkedAt, options,
          sound = switches.sound] {
        const auto plan = rules_.step(sessions, unread, now, options, [this](const AgentSession& session) {
            return hooks_.isInView && session.resourceUsage && hooks_.isInView(session.resourceUsage->pid);
        });
        if (plan.isEmpty()) return;
        QMetaObject::invokeMethod(
            this, [this, plan, sound] { send(plan, sound); }, Qt::QueuedConnection);
    });
}

void SessionNotifier::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void SessionNotifier::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void SessionNotifier::send(const SessionNotificationRules::Plan& plan, bool sound) {
    for (auto handle : plan.close) close(handle);
    for (const auto& notice : plan.show) show(notice, sound);
}

void SessionNotifier::show(SessionNotificationRules::Notice notice, bool sound) {
    uint replaces = 0;
    if (notice.replaces) {
        auto replaced = shown_.find(*notice.replaces);
        if (replaced != shown_.end()) {
            replaces = replaced->second.id;
            if (replaces) handleOfId_.erase(replaces);
            shown_.erase(replaced);
        }
    }
    const bool markup = capabilities_.contains(QStringLiteral("body-markup"));
    QString body = qstr(notice.body);
    if (markup) body = body.toHtmlEscaped();
    QStringList actions;
    if (capabilities_.contains(QStringLiteral("actions"))) {
        actions << QStringLiteral("default") << QString::fromUtf8(notice.isGrouped() ? showAllLabel : goToSessionLabel);
        if (!notice.isGrouped()) actions << QString::fromUtf8(showAllAction) << QString::fromUtf8(showAllLabel);
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromUtf8(desktopEntry));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(1)));
    if (sound) hints.insert(QStringLiteral("sound-name"), QString::fromUtf8(soundName));

    auto call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QString::fromUtf8(appName) << replaces << QString::fromUtf8(desktopEntry) << qstr(notice.summary) << body
         << actions << hints << -1;
    const auto handle = notice.handle;
    shown_[handle] = Shown{std::move(notice), 0, false};
    auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, [this, handle](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<uint> reply = *finished;
        auto entry = shown_.find(handle);
        if (reply.isError()) {
            serverFailed(reply.error().name(), reply.error().message());
            if (entry != shown_.end()) shown_.erase(entry);
            return;
        }
        const uint id = reply.value();
        if (entry == shown_.end()) return;
        entry->second.id = id;
        handleOfId_[id] = handle;
        logger_.debug("notifications.shown id=" + std::to_string(id) + " summary=" + entry->second.notice.summary);
        if (entry->second.closeOnceKnown) {
            shown_.erase(entry);
            handleOfId_.erase(id);
            closeId(id);
        }
    });
}

void SessionNotifier::close(std::uint64_t handle) {
    auto entry = shown_.find(handle);
    if (entry == shown_.end()) return;
    if (!entry->second.id) {
        entry->second.closeOnceKnown = true;
        return;
    }
    const uint id = entry->second.id;
    handleOfId_.erase(id);
    shown_.erase(entry);
    closeId(id);
}

void SessionNotifier::closeId(uint id) {
    auto call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("CloseNotification"));
    call << id;
    // Nothing to wait for: a notification the user closed meanwhile is no fault.
    auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watch, &QDBusPendingCallWatcher::finished, watch, &QObject::deleteLater);
}

void SessionNotifier::actionInvoked(uint id, const QString& key) {
    auto handle = handleOfId_.find(id);
    if (handle == handleOfId_.end()) return;
    auto entry = shown_.find(handle->second);
    if (entry == shown_.end()) return;
    const auto notice = entry->second.notice;
    logger_.debug("notifications.action id=" + std::to_string(id) + " key=" + key.toStdString());
    if (key == QStringLiteral("default") && !notice.isGrouped() && !notice.sessions.empty()) {
        if (hooks_.goToSession) hooks_.goToSession(notice.sessions.front());
    } else if (key == QStringLiteral("default") || key == QString::fromUtf8(showAllAction)) {
        if (hooks_.openDashboard) hooks_.openDashboard();
    }
}

void SessionNotifier::notificationClosed(uint id, uint) {
    auto handle = handleOfId_.find(id);
    if (handle == handleOfId_.end()) return;
    shown_.erase(handle->second);
    handleOfId_.erase(handle);
}

} // namespace brindleaf
