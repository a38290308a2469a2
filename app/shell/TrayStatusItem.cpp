#include "app/shell/TrayStatusItem.hpp"

#include "app/shell/StatusNotifierItem.hpp"
#include "app/shell/TrayHostMonitor.hpp"
#include "app/shell/XEmbedTrayIcon.hpp"
#include "platform/Logger.hpp"
#include "presentation/IconFrameSchedule.hpp"
#include "presentation/PlatformStyle.hpp"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPointer>
#include <QSystemTrayIcon>

namespace brindleaf {

namespace {

const std::string unavailableLine = "statusItem.trayUnavailable host=none; hot keys and windows still work";

} // namespace

TrayStatusItem::TrayStatusItem(MainQueue& mainQueue, QObject* parent)
    : TrayStatusItem(mainQueue, std::nullopt, false, parent) {}

TrayStatusItem::TrayStatusItem(MainQueue& mainQueue, std::optional<QDBusConnection> bus, bool watchX11, QObject* parent)
    : QObject(parent), mainQueue_(mainQueue), bus_(std::move(bus)), animator_(mainQueue, frameSink_) {
    setAppearance(PlatformStyle::appearance(QApplication::palette()));
    qApp->installEventFilter(this);
    if (!bus_) {
        useTray(TrayHostChoice::Tray::xembed);
        if (!QSystemTrayIcon::isSystemTrayAvailable()) Logger("Status").notice(unavailableLine);
        return;
    }
    monitor_ = new TrayHostMonitor(*bus_, watchX11, this);
    connect(monitor_, &TrayHostMonitor::changed, this, &TrayStatusItem::hostsChanged);
    const auto hosts = monitor_->hosts();
    useTray(TrayHostChoice::choose(tray_, hosts));
    if (!TrayHostChoice::anyHost(hosts)) Logger("Status").notice(unavailableLine);
}

TrayStatusItem::~TrayStatusItem() {
    qApp->removeEventFilter(this);
    animator_.stop();
    backend_.reset();
}

void TrayStatusItem::hostsChanged() {
    auto hosts = monitor_->hosts();
    // The next watcher is asked afresh.
    if (!hosts.watcher) itemRefused_ = false;
    hosts.watcherRefusesItem = itemRefused_;
    useTray(TrayHostChoice::choose(tray_, hosts));
}

void TrayStatusItem::statusNotifierRefused(const StatusNotifierItem* item) {
    // Only the item in use, and not from within its own signal: it may go now.
    if (!item || backend_.get() != item) return;
    itemRefused_ = true;
    if (monitor_) hostsChanged();
}

void TrayStatusItem::useTray(TrayHostChoice::Tray tray) {
    if (tray == tray_ || tray == TrayHostChoice::Tray::none) return;
    // The old icon leaves the tray before the new one comes.
    backend_.reset();
    QPointer<TrayStatusItem> self(this);
    auto onActivation = [self](std::optional<QPoint> hostPosition) {
        if (self) emit self->clicked(QCursor::pos(), hostPosition);
    };
    if (tray == TrayHostChoice::Tray::statusNotifier && bus_) {
        auto item = std::make_unique<StatusNotifierItem>(mainQueue_, *bus_, onActivation);
        QPointer<StatusNotifierItem> made(item.get());
        const auto refused = [this, made] { statusNotifierRefused(made); };
        connect(item.get(), &StatusNotifierItem::refused, this, refused, Qt::QueuedConnection);
        connect(item.get(), &StatusNotifierItem::registered, this, [this] { itemRefused_ = false; });
        if (!item->isExported()) QMetaObject::invokeMethod(this, refused, Qt::QueuedConnection);
        backend_ = std::move(item);
    } else {
        tray = TrayHostChoice::Tray::xembed;
        backend_ = std::make_unique<XEmbedTrayIcon>(onActivation);
    }
    const bool first = tray_ == TrayHostChoice::Tray::none;
    tray_ = tray;
    if (!first) Logger("Status").notice("statusItem.trayChanged host=" + std::string(TrayHostChoice::name(tray)));
    // The new icon shows what the old one showed.
    if (!toolTip_.isEmpty()) backend_->setToolTip(toolTip_);
    if (animator_.isPlaying()) {
        animator_.stop();
        playAnimation();
    } else {
        showStill();
    }
}

void TrayStatusItem::reloadIcons(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size) {
    icons_ = &StatusIconFactory::trayIconSet(style, mode, size);
    tintedStills_.clear();
    renderer_.iconsReloaded(!icons_->running.empty());
}

void TrayStatusItem::render(const AgentStatusSnapshot& snapshot) { renderer_.render(snapshot); }

void TrayStatusItem::setAnimationSuspended(bool suspended) { renderer_.setAnimationSuspended(suspended); }
void TrayStatusItem::setReduceMotion(bool reduce) { renderer_.setReduceMotion(reduce); }

void TrayStatusItem::setAppearance(Appearance appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    tintedStills_.clear();
    animator_.setAppearance(appearance);
    if (!animator_.isPlaying()) showStill();
}

bool TrayStatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        setAppearance(PlatformStyle::appearance(QApplication::palette()));
    return QObject::eventFilter(watched, event);
}

QRect TrayStatusItem::geometry() const { return backend_ ? backend_->geometry() : QRect(); }

QSystemTrayIcon* TrayStatusItem::trayIcon() const {
    auto* xembed = dynamic_cast<XEmbedTrayIcon*>(backend_.get());
    return xembed ? xembed->trayIcon() : nullptr;
}

StatusIconImageRef TrayStatusItem::tinted(const StatusIconImageRef& image) {
    if (!image || !image->isTemplate) return image;
    for (const auto& [source, shown] : tintedStills_)
        if (source == image) return shown;
    tintedStills_.emplace_back(image, tintedForPanel(image, appearance_));
    return tintedStills_.back().second;
}

void TrayStatusItem::showStill() {
    if (still_ && backend_) backend_->showIcon(tinted(still_));
}

void TrayStatusItem::showImage(Image image) {
    if (!icons_) return;
    switch (image) {
    case Image::idle:
        still_ = icons_->idle;
        break;
    case Image::waiting:
        still_ = icons_->waiting;
        break;
    case Image::firstRunningFrame:
        still_ = icons_->running.front();
        break;
    case Image::runningPlaceholder:
        // The animator shows the frames on the icon itself.
        still_ = nullptr;
        return;
    }
    showStill();
}

void TrayStatusItem::playAnimation() {
    if (!icons_ || !backend_) return;
    // Where frames are dear, fewer of them over the same loop.
    const auto loop =
        IconFrameSchedule::reducedLoop(icons_->running.size(), icons_->frameInterval, backend_->maxFramesPerSecond());
    std::vector<StatusIconImageRef> frames;
    frames.reserve(loop.frames.size());
    for (std::size_t index : loop.frames) frames.push_back(icons_->running[index]);
    animator_.setFrames(std::move(frames), loop.interval);
}

void TrayStatusItem::stopAnimation() { animator_.stop(); }

void TrayStatusItem::setTooltip(const std::string& tooltip, const std::string&) {
    toolTip_ = QString::fromStdString(tooltip);
    if (backend_) backend_->setToolTip(toolTip_);
}

void TrayStatusItem::FrameSink::showIcon(const StatusIconImageRef& image) {
    if (item_.backend_) item_.backend_->showFrame(image);
}

} // namespace brindleaf
