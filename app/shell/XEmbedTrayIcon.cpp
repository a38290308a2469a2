#include "app/shell/XEmbedTrayIcon.hpp"

namespace brindleaf {

XEmbedTrayIcon::XEmbedTrayIcon(ActivationHandler onActivation) : icon_(new QSystemTrayIcon()), sink_(icon_) {
    QObject::connect(icon_, &QSystemTrayIcon::activated, icon_,
                     [onActivation = std::move(onActivation)](QSystemTrayIcon::ActivationReason reason) {
                         // Trays differ in the reasons they report for the same
                         // click; every button counts.
                         if (reason != QSystemTrayIcon::Unknown && onActivation) onActivation(std::nullopt);
                     });
}

XEmbedTrayIcon::~XEmbedTrayIcon() {
    icon_->hide();
    delete icon_;
}

void XEmbedTrayIcon::showIcon(const StatusIconImageRef& image) {
    sink_.showIcon(image);
    // Shown with its first image: Qt refuses to show a tray icon without one.
    if (!icon_->isVisible() && !icon_->icon().isNull()) icon_->show();
}

} // namespace brindleaf
