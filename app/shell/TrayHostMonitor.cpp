#include "app/shell/TrayHostMonitor.hpp"

#include "app/shell/StatusNotifierItem.hpp"
#include "platform/X11TraySelection.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>

namespace brindleaf {

namespace {

const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

TrayHostMonitor::TrayHostMonitor(QDBusConnection bus, bool watchX11, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    const QString& watcher = StatusNotifierItem::watcherService;
    if (bus_.isConnected()) {
        serviceWatcher_ = new QDBusServiceWatcher(watcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(serviceWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    auto hosts = hosts_;
                    hosts.watcher = !newOwner.isEmpty();
                    // Beside an XEmbed tray a watcher just started has no host
                    // until it says so: its panel may register one a moment
                    // later, or never.
                    hosts.watcherHasHost = hosts.watcher && !hosts.xembedOwner;
                    update(hosts);
                    if (hosts.watcher) askWhetherHostRegistered();
                });
        // QtDBus has no functor form for bus signals.
        bus_.connect(watcher, watcherPath, watcher, QStringLiteral("StatusNotifierHostRegistered"), this,
                     SLOT(hostRegistered()));
        bus_.connect(watcher, watcherPath, watcher, QStringLiteral("StatusNotifierHostUnregistered"), this,
                     SLOT(hostUnregistered()));
        // The bus daemon answers this itself, at once.
        hosts_.watcher = bus_.interface() && bus_.interface()->isServiceRegistered(watcher).value();
        hosts_.watcherHasHost = hosts_.watcher;
        if (hosts_.watcher) askWhetherHostRegistered();
    }
    if (watchX11) {
        x11_ = std::make_unique<X11TraySelection>();
        if (x11_->isConnected()) {
            hosts_.xembedOwner = x11_->hasOwner();
            x11Notifier_ = new QSocketNotifier(x11_->fileDescriptor(), QSocketNotifier::Read, this);
            connect(x11Notifier_, &QSocketNotifier::activated, this, [this] {
                const auto colours = x11_->trayForeground();
                x11_->readEvents();
                if (x11_->trayForeground() != colours) emit trayColoursChanged();
                if (!x11_->isConnected()) x11Notifier_->setEnabled(false);
                auto hosts = hosts_;
                hosts.xembedOwner = x11_->hasOwner();
                update(hosts);
            });
        }
    }
}

TrayHostMonitor::~TrayHostMonitor() = default;

std::optional<std::array<std::uint16_t, 3>> TrayHostMonitor::trayForeground() const {
    return x11_ ? x11_->trayForeground() : std::nullopt;
}

void TrayHostMonitor::askWhetherHostRegistered() {
    const QString& watcher = StatusNotifierItem::watcherService;
    auto call = QDBusMessage::createMethodCall(watcher, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                               QStringLiteral("Get"));
    call << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *finished;
        // A watcher that cannot say (its object not there yet) keeps what it
        // counted as until its host announces itself.
        if (reply.isError() || !hosts_.watcher) return;
        auto hosts = hosts_;
        hosts.watcherHasHost = reply.value().variant().toBool();
        update(hosts);
    });
}

void TrayHostMonitor::hostRegistered() {
    auto hosts = hosts_;
    hosts.watcherHasHost = hosts.watcher;
    update(hosts);
}

void TrayHostMonitor::hostUnregistered() { askWhetherHostRegistered(); }

void TrayHostMonitor::update(TrayHostChoice::Hosts hosts) {
    if (hosts == hosts_) return;
    hosts_ = hosts;
    emit changed();
}

} // namespace brindleaf
