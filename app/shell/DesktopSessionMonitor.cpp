#include "app/shell/DesktopSessionMonitor.hpp"

#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>

#include <unistd.h>

namespace brindleaf {

namespace {

const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString interfaceNamespace = QStringLiteral("org.gnome.desktop.interface");
const QString animationsKey = QStringLiteral("enable-animations");

// The portal wraps the value in one or two variants, depending on its version.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

DesktopSessionMonitor::DesktopSessionMonitor(Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    auto system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        system.connect(login1Service, QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                       SLOT(prepareForSleep(bool)));
        QDBusInterface manager(login1Service, QStringLiteral("/org/freedesktop/login1"),
                               QStringLiteral("org.freedesktop.login1.Manager"), system);
        QDBusReply<QDBusObjectPath> session =
            manager.call(QStringLiteral("GetSessionByPID"), static_cast<quint32>(::getpid()));
        if (session.isValid()) {
            sessionPath_ = session.value().path();
            system.connect(login1Service, sessionPath_, QStringLiteral("org.freedesktop.DBus.Properties"),
                           QStringLiteral("PropertiesChanged"), this,
                           SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
        }
    }
    auto session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        session.connect(portalService, portalPath, portalSettings, QStringLiteral("SettingChanged"), this,
                        SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
        readAnimationSetting();
    }
}

void DesktopSessionMonitor::prepareForSleep(bool start) {
    sleeping_ = start;
    publishSuspension();
}

void DesktopSessionMonitor::sessionPropertiesChanged(const QString&, const QVariantMap&, const QStringList&) {
    readSessionState();
}

void DesktopSessionMonitor::readSessionState() {
    QDBusInterface properties(login1Service, sessionPath_, QStringLiteral("org.freedesktop.DBus.Properties"),
                              QDBusConnection::systemBus());
    const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
    QDBusReply<QVariant> active = properties.call(QStringLiteral("Get"), sessionInterface, QStringLiteral("Active"));
    QDBusReply<QVariant> locked =
        properties.call(QStringLiteral("Get"), sessionInterface, QStringLiteral("LockedHint"));
    if (active.isValid()) sessionInactive_ = !unwrapped(active.value()).toBool();
    if (locked.isValid()) sessionLocked_ = unwrapped(locked.value()).toBool();
    publishSuspension();
}

void DesktopSessionMonitor::portalSettingChanged(const QString& nameSpace, const QString& key,
                                                 const QDBusVariant& value) {
    if (nameSpace != interfaceNamespace || key != animationsKey) return;
    if (handlers_.reduceMotion) handlers_.reduceMotion(!unwrapped(value.variant()).toBool());
}

void DesktopSessionMonitor::readAnimationSetting() {
    auto call = QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, QStringLiteral("Read"));
    call << interfaceNamespace << animationsKey;
    // Asked without waiting: a portal that is slow to start must not hold up the launch.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QVariant> reply = *finished;
        if (reply.isError()) return;
        const QVariant value = unwrapped(reply.value());
        if (value.isValid() && handlers_.reduceMotion) handlers_.reduceMotion(!value.toBool());
    });
}

void DesktopSessionMonitor::publishSuspension() {
    const bool suspended = sleeping_ || sessionInactive_ || sessionLocked_;
    if (suspended == lastSuspended_) return;
    lastSuspended_ = suspended;
    if (handlers_.animationSuspended) handlers_.animationSuspended(suspended);
}

} // namespace brindleaf
