#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "presentation/Appearance.hpp"

#include <functional>
#include <optional>

namespace brindleaf {

// What the desktop says over D-Bus about the icon animation: logind's sleep
// signal and the session's active and locked state (system bus), and the
// desktop's animation setting and colour scheme through the settings portal
// (session bus), read without waiting and followed as they change. Where a
// service is missing nothing is reported and the icon keeps animating.
//
// Main thread only.
class DesktopSessionMonitor final : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        // True while the machine goes to sleep or the session is inactive or locked.
        std::function<void(bool suspended)> animationSuspended;
        // True while the desktop turns animations off.
        std::function<void(bool reduce)> reduceMotion;
        // The desktop's colour scheme: light, dark, or none when it has no preference.
        std::function<void(std::optional<Appearance> scheme)> colourScheme;
    };

    // `session`: the session bus to find the settings portal on.
    DesktopSessionMonitor(Handlers handlers, QObject* parent = nullptr,
                          QDBusConnection session = QDBusConnection::sessionBus());

private slots:
    void prepareForSleep(bool start);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    // SettingChanged (namespace, key, value), taken as a message: QtDBus
    // refuses to connect the signal to a slot typed (QString, QString, QDBusVariant).
    void portalSettingChanged(const QDBusMessage& message);

private:
    void readSessionState();
    void readPortalSetting(const QString& nameSpace, const QString& key);
    void portalSettingRead(const QString& nameSpace, const QString& key, const QVariant& value);
    void publishSuspension();

    Handlers handlers_;
    QDBusConnection session_;
    QString sessionPath_;
    bool sleeping_ = false;
    bool sessionInactive_ = false;
    bool sessionLocked_ = false;
    bool lastSuspended_ = false;
};

} // namespace brindleaf
