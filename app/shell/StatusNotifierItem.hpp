#pragma once

#include "app/shell/StatusNotifierPixmap.hpp"
#include "app/shell/TrayIconBackend.hpp"
#include "platform/MainQueue.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <utility>
#include <vector>

class QDBusError;
class QDBusServiceWatcher;

namespace brindleaf {

class StatusNotifierItemAdaptor;

// The status icon as a StatusNotifierItem of our own on the session bus
// (service "org.kde.StatusNotifierItem-<pid>-brindleaf-<n>": Qt's own tray
// icon takes "org.kde.StatusNotifierItem-<pid>-<n>"; object
// "/StatusNotifierItem"), registered with the org.kde.StatusNotifierWatcher
// once for each process that takes the watcher's name (a panel restarting).
// A registration that fails while a watcher owns the name is tried again after
// the waits of RegistrationBackoff on the main queue (a watcher may take its
// name before its object is there); when none of those attempts succeeds the
// item says so (refused()) and registers again only at the watcher's next host
// or next start. A host the watcher announces while a registration is on its
// way asks nothing more at once (a waiting retry then waits its first wait
// from the announcement): a call then reaches the host while it is still
// starting, and some hosts add the item twice. A host
// announced after the watcher took the item asks again only when the watcher
// no longer lists it (RegisteredStatusNotifierItems). When the object cannot
// go on the bus the name is given back and the item is not exported.
//
// Still images go out at 1x and 2x; a frame of the running loop at 1x only,
// whatever the screen's scale (a host on a HiDPI screen scales it up), and the
// loop at no more than `framesPerSecond`: every frame is a NewIcon signal
// after which the host reads the pixmaps again, so the loop costs the bus the
// same on every screen.
// Pixmaps are encoded once per image. Title and Id are the product name. Any
// click the host reports (Activate, SecondaryActivate, ContextMenu) goes to the
// activation handler with the position the host passed.
//
// Main thread only.
class StatusNotifierItem final : public QObject, public TrayIconBackend {
    Q_OBJECT
public:
    static const QString productName;    // "Brindleaf"
    static const QString watcherService; // "org.kde.StatusNotifierWatcher"
    static constexpr double framesPerSecond = 2.5;

    // `queue` times the retries of a failed registration; it outlives the item.
    StatusNotifierItem(MainQueue& queue, QDBusConnection bus, ActivationHandler onActivation,
                       QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether the service and object are on the bus.
    bool isExported() const { return exported_; }
    // Whether the watcher now on the bus took the item.
    bool isRegistered() const { return registered_; }
    const QString& serviceName() const { return service_; }

    void showIcon(const StatusIconImageRef& image) override;
    void showFrame(const StatusIconImageRef& image) override;
    void setToolTip(const QString& toolTip) override;
    QRect geometry() const override { return {}; }
    double maxFramesPerSecond() const override { return framesPerSecond; }

    // What the adaptor answers and does.
    const StatusNotifierPixmaps& iconPixmaps() const { return pixmaps_; }
    StatusNotifierToolTip toolTipValue() const;
    void activate(int x, int y);
    // A host read the icon or the tooltip: it knows the item, and is told of
    // changes from now on.
    void noteHostRead() { hostHasRead_ = true; }

signals:
    // The watcher took the item.
    void registered();
    // The watcher did not take the item, however often it was asked.
    void refused();

private slots:
    void hostRegistered();

private:
    // Where the registration with the watcher now on the bus stands.
    enum class State {
        // Not asked yet, or no watcher answered.
        unasked,
        // A call is on its way.
        calling,
        // A retry waits.
        retrying,
        // The watcher took the item.
        taken,
        // The back-off ran out.
        gaveUp,
    };

    void registerWithWatcher();
    // Registers again when the watcher no longer lists the item it took.
    void askWhetherListed();
    void registrationFailed(const QDBusError& error);
    // Registers again after `delay` seconds, unless another attempt or watcher comes first.
    void retryAfter(double delay);
    void show(const StatusIconImageRef& image, bool allSizes);

    MainQueue& queue_;
    QDBusConnection bus_;
    ActivationHandler onActivation_;
    StatusNotifierItemAdaptor* adaptor_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QString service_;
    bool exported_ = false;
    bool registered_ = false;
    // Whether a host read the item since the watcher last changed (or forgot
    // the item). Until one has, NewIcon and NewToolTip stay unsent: a host
    // that gets them from an item it is still adding (gtk-sni-tray) adds it a
    // second time, and the host reads what is current when it adds the item.
    // (A host announced later does not reset it: its announcement may reach
    // the item after the host's first read.)
    bool hostHasRead_ = false;
    State state_ = State::unasked;
    // Failed registrations in a row with the watcher now on the bus.
    int failures_ = 0;
    // Counts the attempts: a retry or reply of an attempt overtaken by a
    // newer one does nothing.
    unsigned attempt_ = 0;
    // The count when the watcher's owner last changed: replies to attempts up
    // to it came from the watcher before.
    unsigned ownerChangedAt_ = 0;
    StatusNotifierPixmaps pixmaps_;
    QString toolTip_;
    StatusIconImageRef shown_;
    bool shownAllSizes_ = false;
    struct Encoded {
        StatusIconImageRef image;
        bool allSizes = false;
        StatusNotifierPixmaps pixmaps;
    };
    std::vector<Encoded> encoded_;
};

} // namespace brindleaf
