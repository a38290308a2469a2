#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace brindleaf {

// What the desktop says over D-Bus about the icon animation: logind's sleep
// signal and the session's active and locked state (system bus), and the
// desktop's animation setting through the settings portal (session bus). Where
// a service is missing nothing is reported and the icon keeps animating.
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
    };

    DesktopSessionMonitor(Handlers handlers, QObject* parent = nullptr);

private slots:
    void prepareForSleep(bool start);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void portalSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    void readSessionState();
    void readAnimationSetting();
    void publishSuspension();

    Handlers handlers_;
    QString sessionPath_;
    bool sleeping_ = false;
    bool sessionInactive_ = false;
    bool sessionLocked_ = false;
    bool lastSuspended_ = false;
};

} // namespace brindleaf
