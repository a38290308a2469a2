#include "app/shell/StatusNotifierItem.hpp"

#include "app/shell/StatusNotifierItemAdaptor.hpp"
#include "platform/Logger.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <unistd.h>

namespace brindleaf {

const QString StatusNotifierItem::productName = QStringLiteral("Brindleaf");
const QString StatusNotifierItem::watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");

// Bounded: the frames of two loops and the still images are plenty.
constexpr std::size_t encodedLimit = 64;

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, ActivationHandler onActivation, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      onActivation_(std::move(onActivation)),
      adaptor_(new StatusNotifierItemAdaptor(*this)) {
    static int instances = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(::getpid()).arg(++instances);
    registerStatusNotifierTypes();
    if (!bus_.isConnected()) return;
    exported_ = bus_.registerService(service_) && bus_.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
    if (!exported_) {
        Logger("Status").error("statusItem.statusNotifier.exportFailed service=" + service_.toStdString());
        return;
    }
    watcher_ = new QDBusServiceWatcher(watcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (!newOwner.isEmpty()) registerWithWatcher();
            });
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!exported_) return;
    // The watcher drops the item when its service leaves the bus.
    bus_.unregisterObject(itemPath);
    bus_.unregisterService(service_);
}

void StatusNotifierItem::registerWithWatcher() {
    auto call = QDBusMessage::createMethodCall(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                                               QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        // No watcher yet is no fault: the item registers when one comes.
        if (finished->isError() && finished->error().type() != QDBusError::ServiceUnknown)
            Logger("Status").error("statusItem.statusNotifier.registerFailed error=" +
                                   finished->error().name().toStdString());
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
    emit adaptor_->NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip == toolTip_) return;
    toolTip_ = toolTip;
    emit adaptor_->NewToolTip();
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
