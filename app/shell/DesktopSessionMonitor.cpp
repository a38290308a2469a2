#include "app/shell/DesktopSessionMonitor.hpp"

#include "presentation/PanelAppearance.hpp"

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
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colourSchemeKey = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants, depending on its version.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

DesktopSessionMonitor::DesktopSessionMonitor(Handlers handlers, QObject* parent, QDBusConnection session)
    : QObject(parent), handlers_(std::move(handlers)), session_(std::move(session)) {
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
    if (session_.isConnected()) {
        session_.connect(portalService, portalPath, portalSettings, QStringLiteral("SettingChanged"), this,
                         SLOT(portalSettingChanged(QDBusMessage)));
        readPortalSetting(interfaceNamespace, animationsKey);
        readPortalSetting(appearanceNamespace, colourSchemeKey);
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

void DesktopSessionMonitor::portalSettingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 3) return;
    portalSettingRead(arguments[0].toString(), arguments[1].toString(), unwrapped(arguments[2]));
}

void DesktopSessionMonitor::portalSettingRead(const QString& nameSpace, const QString& key, const QVariant& value) {
    if (!value.isValid()) return;
    if (nameSpace == interfaceNamespace && key == animationsKey) {
        if (handlers_.reduceMotion) handlers_.reduceMotion(!value.toBool());
    } else if (nameSpace == appearanceNamespace && key == colourSchemeKey) {
        bool ok = false;
        const uint scheme = value.toUInt(&ok);
        if (!ok || !handlers_.colourScheme) return;
        handlers_.colourScheme(PanelAppearance::ofColourScheme(scheme));
    }
}

void DesktopSessionMonitor::readPortalSetting(const QString& nameSpace, const QString& key) {
    auto call = QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, QStringLiteral("Read"));
    call << nameSpace << key;
    // Asked without waiting: a portal that is slow to start must not hold up
    // the launch, and one that never answers only leaves the setting unknown.
    auto* watcher = new QDBusPendingCallWatcher(session_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, nameSpace, key](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                QDBusPendingReply<QVariant> reply = *finished;
                if (!reply.isError()) portalSettingRead(nameSpace, key, unwrapped(reply.value()));
            });
}

void DesktopSessionMonitor::publishSuspension() {
    const bool suspended = sleeping_ || sessionInactive_ || sessionLocked_;
    if (suspended == lastSuspended_) return;
    lastSuspended_ = suspended;
    if (handlers_.animationSuspended) handlers_.animationSuspended(suspended);
}

} // namespace brindleaf
