#include "app/shell/StatusNotifierItem.hpp"

#include "app/RegistrationBackoff.hpp"
#include "app/shell/StatusNotifierItemAdaptor.hpp"
#include "platform/DecimalText.hpp"
#include "platform/Logger.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QPointer>

#include <string>

#include <unistd.h>

namespace brindleaf {

const QString StatusNotifierItem::productName = QStringLiteral("Brindleaf");
const QString StatusNotifierItem::watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// Bounded: the frames of two loops and the still images are plenty.
constexpr std::size_t encodedLimit = 64;

} // namespace

StatusNotifierItem::StatusNotifierItem(MainQueue& queue, QDBusConnection bus, ActivationHandler onActivation,
                                       QObject* parent)
    : QObject(parent),
      queue_(queue),
      bus_(std::move(bus)),
      onActivation_(std::move(onActivation)),
      adaptor_(new StatusNotifierItemAdaptor(*this)) {
    static int instances = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-brindleaf-%2").arg(::getpid()).arg(++instances);
    registerStatusNotifierTypes();
    if (!bus_.isConnected()) return;
    if (bus_.registerService(service_)) {
        exported_ = bus_.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
        // A name without the object would answer hosts with errors.
        if (!exported_) bus_.unregisterService(service_);
    }
    if (!exported_) {
        Logger("Status").error("statusItem.statusNotifier.exportFailed service=" + service_.toStdString());
        return;
    }
    watcher_ = new QDBusServiceWatcher(watcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                // Retries, replies and questions were for the watcher that left.
                ownerChangedAt_ = ++attempt_;
                failures_ = 0;
                registered_ = false;
                hostHasRead_ = false;
                state_ = State::unasked;
                if (!newOwner.isEmpty()) registerWithWatcher();
            });
    // QtDBus has no functor form for bus signals.
    bus_.connect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                 SLOT(hostRegistered()));
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!exported_) return;
    bus_.disconnect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(hostRegistered()));
    // The watcher drops the item when its service leaves the bus.
    bus_.unregisterObject(itemPath);
    bus_.unregisterService(service_);
}

void StatusNotifierItem::hostRegistered() {
    switch (state_) {
    case State::calling:
        // The reply on its way decides. A second call now would reach the new
        // host while it is still starting, and gtk-sni-tray then adds the item
        // twice (two icons, one never updated again). The host may be what the
        // watcher waited for: the back-off starts over.
        failures_ = 0;
        return;
    case State::retrying:
        // The same for the retry, which now waits its first wait from the
        // host's start: the host is then past its own start more surely.
        failures_ = 0;
        ++attempt_;
        retryAfter(RegistrationBackoff::firstDelay);
        return;
    case State::taken:
        askWhetherListed();
        return;
    case State::unasked:
    case State::gaveUp:
        // A host that starts after its watcher: the watcher is surely there now.
        failures_ = 0;
        registerWithWatcher();
        return;
    }
}

void StatusNotifierItem::askWhetherListed() {
    auto call = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << watcherService << QStringLiteral("RegisteredStatusNotifierItems");
    const unsigned attempt = attempt_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        // Registered again, or another watcher, since the question: that decides.
        if (attempt != attempt_ || state_ != State::taken) return;
        QDBusPendingReply<QDBusVariant> reply = *finished;
        // A watcher that cannot say keeps the item it took.
        if (reply.isError()) return;
        const QString unique = bus_.baseService();
        for (const QString& entry : reply.value().variant().toStringList()) {
            const QString name = entry.section(QLatin1Char('/'), 0, 0);
            if (name == service_ || name == unique) return;
        }
        Logger("Status").notice("statusItem.statusNotifier.notListed service=" + service_.toStdString() +
                                "; registering again");
        registered_ = false;
        hostHasRead_ = false;
        failures_ = 0;
        registerWithWatcher();
    });
}

void StatusNotifierItem::registerWithWatcher() {
    const unsigned attempt = ++attempt_;
    state_ = State::calling;
    auto call = QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                               QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        // The watcher before took or refused it: this one has not said yet.
        if (attempt <= ownerChangedAt_) return;
        if (!finished->isError()) {
            failures_ = 0;
            if (attempt == attempt_) state_ = State::taken;
            if (!registered_) {
                registered_ = true;
                emit registered();
            }
        } else if (attempt == attempt_) {
            registrationFailed(finished->error());
        }
    });
}

void StatusNotifierItem::registrationFailed(const QDBusError& error) {
    // No watcher yet is no fault: the item registers when one comes.
    if (error.type() == QDBusError::ServiceUnknown) {
        state_ = State::unasked;
        return;
    }
    const auto delay = RegistrationBackoff::delayAfter(++failures_);
    Logger("Status").error("statusItem.statusNotifier.registerFailed error=" + error.name().toStdString() +
                           " attempt=" + std::to_string(failures_) +
                           (delay ? " retryIn=" + DecimalText::fixed(*delay, 2) : std::string(" retry=none")));
    if (!delay) {
        state_ = State::gaveUp;
        if (!registered_) emit refused();
        return;
    }
    retryAfter(*delay);
}

void StatusNotifierItem::retryAfter(double delay) {
    state_ = State::retrying;
    QPointer<StatusNotifierItem> self(this);
    queue_.postAfter(delay, [self, attempt = attempt_] {
        if (self && attempt == self->attempt_) self->registerWithWatcher();
    });
}

void StatusNotifierItem::showIcon(const StatusIconImageRef& image) { show(image, true); }

void StatusNotifierItem::showFrame(const StatusIconImageRef& image) { show(image, false); }

void StatusNotifierItem::show(const StatusIconImageRef& image, bool allSizes) {
    if (!image || (image == shown_ && allSizes == shownAllSizes_)) return;
    shown_ = image;
    shownAllSizes_ = allSizes;
    const Encoded* found = nullptr;
    for (const auto& entry : encoded_)
        if (entry.image == image && entry.allSizes == allSizes) found = &entry;
    if (!found) {
        Encoded entry{image, allSizes, {}};
        if (allSizes) {
            for (const QImage* bitmap : {&image->at1x, &image->at2x})
                if (!bitmap->isNull()) entry.pixmaps.push_back(StatusNotifierPixmap::fromImage(*bitmap));
        } else {
            // A frame at 1x: on a HiDPI screen the 2x one is four times the bytes.
            const QImage& bitmap = image->at1x.isNull() ? image->at2x : image->at1x;
            if (!bitmap.isNull()) entry.pixmaps.push_back(StatusNotifierPixmap::fromImage(bitmap));
        }
        if (encoded_.size() >= encodedLimit) encoded_.clear();
        encoded_.push_back(std::move(entry));
        found = &encoded_.back();
    }
    pixmaps_ = found->pixmaps;
    if (hostHasRead_) emit adaptor_->NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip == toolTip_) return;
    toolTip_ = toolTip;
    if (hostHasRead_) emit adaptor_->NewToolTip();
}

StatusNotifierToolTip StatusNotifierItem::toolTipValue() const {
    StatusNotifierToolTip value;
    value.title = toolTip_;
    return value;
}

void StatusNotifierItem::activate(int x, int y) {
    if (onActivation_) onActivation_(QPoint(x, y));
}

} // namespace brindleaf
