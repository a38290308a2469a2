#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>

namespace brindleaf::testing {

// A stand-in for a panel's org.kde.StatusNotifierWatcher on a test's bus,
// as badly behaved as real ones can be: it may take its name before its
// object is there (callers then get UnknownObject), answer late, refuse every
// item, or register its host only when told.
class FakeStatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    struct Options {
        // Takes the name and leaves the object for exportObject().
        bool nameFirst = false;
        // Answers a registration this long after the call.
        int answerDelayMs = 0;
        // Answers every registration with an error.
        bool refuseItems = false;
        // A host is registered from the start (else only after registerHost()).
        bool hostRegistered = true;
    };

    FakeStatusNotifierWatcher(const QString& address, Options initial);
    explicit FakeStatusNotifierWatcher(const QString& address) : FakeStatusNotifierWatcher(address, Options{}) {}
    ~FakeStatusNotifierWatcher() override;

    void exportObject();
    // A host starts: the property turns true and the signal goes out.
    void registerHost();

    bool isHostRegistered() const;

    // The items it took, in order.
    QStringList items;
    // May change while it runs.
    Options options;
    // Registration calls it answered (taken or refused).
    int answered = 0;
    // Times a caller read IsStatusNotifierHostRegistered.
    mutable int hostQueries = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);

signals:
    void StatusNotifierHostRegistered();

private:
    static inline int count_ = 0;
    QDBusConnection connection_;
    bool exported_ = false;
    bool hostRegistered_;
};

} // namespace brindleaf::testing
