#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace brindleaf::testing {

// A stand-in for a panel's org.kde.StatusNotifierWatcher on a test's bus,
// as badly behaved as real ones can be: it may take its name before its
// object is there (callers then get UnknownObject), answer late or only when
// told, refuse every item or the first few, give its name up while it still
// has calls to answer, or register its host only when told.
// It lists the items it took (RegisteredStatusNotifierItems) as
// "<service>/StatusNotifierItem", and forgets them when a test clears `items`.
class FakeStatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
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
        // Refuses this many more registrations, then takes them.
        int refuseNext = 0;
        // Keeps every answer until answerHeld().
        bool holdAnswers = false;
    };

    FakeStatusNotifierWatcher(const QString& address, Options initial);
    explicit FakeStatusNotifierWatcher(const QString& address) : FakeStatusNotifierWatcher(address, Options{}) {}
    ~FakeStatusNotifierWatcher() override;

    void exportObject();
    // Gives the watcher's name up (another may take it) and takes it again,
    // staying on the bus in between.
    void releaseName();
    void takeName();
    // Sends the answers held so far, in the order of the calls.
    void answerHeld();
    // Its connection's own name on the bus.
    QString uniqueName() const { return connection_.baseService(); }
    // A host starts: the property turns true and the signal goes out.
    void registerHost();

    bool isHostRegistered() const;
    QStringList registeredItems() const;

    // The items it took, in order.
    QStringList items;
    // May change while it runs.
    Options options;
    // Registration calls it was sent, and those it answered (taken or refused).
    int calls = 0;
    int answered = 0;
    // Times a caller read IsStatusNotifierHostRegistered, and RegisteredStatusNotifierItems.
    mutable int hostQueries = 0;
    mutable int itemQueries = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);

signals:
    void StatusNotifierHostRegistered();

private:
    static inline int count_ = 0;
    QDBusConnection connection_;
    bool exported_ = false;
    bool hostRegistered_;
    std::vector<std::function<void()>> held_;
};

} // namespace brindleaf::testing
