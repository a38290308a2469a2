#include "app/shell/TrayStatusItem.hpp"

#include "platform/Logger.hpp"
#include "presentation/PlatformStyle.hpp"

#include <QApplication>
#include <QCursor>

namespace brindleaf {

TrayStatusItem::TrayStatusItem(MainQueue& mainQueue, QObject* parent)
    : QObject(parent), trayIcon_(new QSystemTrayIcon(this)), sink_(trayIcon_), animator_(mainQueue, sink_) {
    animator_.setAppearance(PlatformStyle::appearance(QApplication::palette()));
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Trays differ in the reasons they report for the same click; every
        // button toggles the popover.
        if (reason == QSystemTrayIcon::Unknown) return;
        emit clicked(QCursor::pos());
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        Logger("Status").notice("statusItem.trayUnavailable host=none; hot keys and windows still work");
}

TrayStatusItem::~TrayStatusItem() { animator_.stop(); }

void TrayStatusItem::reloadIcons(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size) {
    icons_ = &StatusIconFactory::iconSet(style, mode, size);
    renderer_.iconsReloaded(!icons_->running.empty());
}

void TrayStatusItem::render(const AgentStatusSnapshot& snapshot) {
    renderer_.render(snapshot);
    if (!trayIcon_->isVisible()) trayIcon_->show();
}

void TrayStatusItem::setAnimationSuspended(bool suspended) { renderer_.setAnimationSuspended(suspended); }
void TrayStatusItem::setReduceMotion(bool reduce) { renderer_.setReduceMotion(reduce); }

QRect TrayStatusItem::geometry() const { return trayIcon_->geometry(); }

void TrayStatusItem::showImage(Image image) {
    if (!icons_) return;
    switch (image) {
    case Image::idle:
        sink_.showIcon(icons_->idle);
        break;
    case Image::waiting:
        sink_.showIcon(icons_->waiting);
        break;
    case Image::firstRunningFrame:
        sink_.showIcon(icons_->running.front());
        break;
    case Image::runningPlaceholder:
        // The animator draws the frames on the icon itself.
        break;
    }
}

void TrayStatusItem::playAnimation() {
    if (icons_) animator_.setFrames(icons_->running, icons_->frameInterval);
}

void TrayStatusItem::stopAnimation() { animator_.stop(); }

void TrayStatusItem::setTooltip(const std::string& tooltip, const std::string&) {
    trayIcon_->setToolTip(QString::fromStdString(tooltip));
}

} // namespace brindleaf
