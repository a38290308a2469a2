#include "app/shell/TrayStatusItem.hpp"

#include "app/shell/StatusNotifierItem.hpp"
#include "app/shell/TrayHostMonitor.hpp"
#include "app/shell/XEmbedTrayIcon.hpp"
#include "platform/Logger.hpp"
#include "platform/X11PanelSampler.hpp"
#include "presentation/IconFrameSchedule.hpp"
#include "presentation/PlatformStyle.hpp"

#include <QApplication>
#include <QCursor>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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
    signals_.applicationPalette = PlatformStyle::appearance(QApplication::palette());
    decideAppearance();
    qApp->installEventFilter(this);
    noXEmbed_ = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (watchX11) sampler_ = std::make_unique<X11PanelSampler>();
    if (!bus_) {
        if (!noXEmbed_) useTray(TrayHostChoice::Tray::xembed);
        if (!QSystemTrayIcon::isSystemTrayAvailable()) Logger("Status").notice(unavailableLine);
        return;
    }
    monitor_ = new TrayHostMonitor(*bus_, watchX11, this);
    connect(monitor_, &TrayHostMonitor::changed, this, &TrayStatusItem::hostsChanged);
    connect(monitor_, &TrayHostMonitor::trayColoursChanged, this, [this] {
        readTrayColours();
        decideAppearance();
    });
    auto hosts = monitor_->hosts();
    hosts.noXEmbed = noXEmbed_;
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
    hosts.noXEmbed = noXEmbed_;
    // The next watcher is asked afresh.
    if (!hosts.watcher) itemRefused_ = false;
    hosts.watcherRefusesItem = itemRefused_;
    const auto before = tray_;
    useTray(TrayHostChoice::choose(tray_, hosts));
    // Another watcher may be another panel.
    if (tray_ == before && tray_ == TrayHostChoice::Tray::statusNotifier) askWatcherPid();
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
    // What the old tray told of its panel says nothing of the new one.
    signals_.panelPixels.reset();
    watcherPid_ = 0;
    readTrayColours();
    if (tray_ == TrayHostChoice::Tray::statusNotifier) askWatcherPid();
    decideAppearance();
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

void TrayStatusItem::render(const AgentStatusSnapshot& snapshot) {
    samplePanel();
    renderer_.render(snapshot);
}

void TrayStatusItem::setAnimationSuspended(bool suspended) { renderer_.setAnimationSuspended(suspended); }
void TrayStatusItem::setReduceMotion(bool reduce) { renderer_.setReduceMotion(reduce); }

void TrayStatusItem::setAppearance(Appearance appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    tintedStills_.clear();
    animator_.setAppearance(appearance);
    if (!animator_.isPlaying()) showStill();
}

void TrayStatusItem::setDesktopColourScheme(std::optional<Appearance> scheme) {
    signals_.colourScheme = scheme;
    decideAppearance();
}

void TrayStatusItem::decideAppearance() {
    const auto decision = PanelAppearance::decide(signals_);
    if (decided_ && decision == decision_) return;
    decided_ = true;
    decision_ = decision;
    Logger("Status").info(
        "statusItem.panelAppearance appearance=" + std::string(PanelAppearance::name(decision.appearance)) +
        " source=" + std::string(PanelAppearance::name(decision.source)) +
        " host=" + std::string(TrayHostChoice::name(tray_)));
    setAppearance(decision.appearance);
}

void TrayStatusItem::readTrayColours() {
    signals_.trayColours.reset();
    if (tray_ != TrayHostChoice::Tray::xembed || !monitor_) return;
    if (const auto ink = monitor_->trayForeground())
        signals_.trayColours = PanelAppearance::ofForeground({static_cast<std::uint8_t>((*ink)[0] >> 8),
                                                              static_cast<std::uint8_t>((*ink)[1] >> 8),
                                                              static_cast<std::uint8_t>((*ink)[2] >> 8)});
}

void TrayStatusItem::samplePanel() {
    if (!sampler_ || !sampler_->isConnected() || !backend_) return;
    X11PanelSampler::Pixels pixels;
    if (auto* xembed = dynamic_cast<XEmbedTrayIcon*>(backend_.get()))
        pixels = sampler_->aroundWindow(xembed->windowId());
    else if (watcherPid_)
        pixels = sampler_->dockOfProcess(watcherPid_);
    // A panel not read this time keeps what it was last read as.
    if (!pixels.argb.empty()) signals_.panelPixels = PanelAppearance::ofPanelPixels(pixels.argb, pixels.composited);
    decideAppearance();
}

void TrayStatusItem::askWatcherPid() {
    if (!bus_ || !bus_->isConnected()) return;
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    call << StatusNotifierItem::watcherService;
    const unsigned question = ++pidQuestion_;
    // Asked without waiting; the bus daemon answers at once.
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, question](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<quint32> reply = *finished;
        if (question != pidQuestion_ || tray_ != TrayHostChoice::Tray::statusNotifier) return;
        const quint32 pid = reply.isError() ? 0 : reply.value();
        if (pid == watcherPid_) return;
        watcherPid_ = pid;
        signals_.panelPixels.reset();
        samplePanel();
    });
}

bool TrayStatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        signals_.applicationPalette = PlatformStyle::appearance(QApplication::palette());
        decideAppearance();
    }
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
