#include "app/shell/XEmbedTrayIcon.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

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

quint32 XEmbedTrayIcon::windowId() const {
    if (!icon_->isVisible() || QGuiApplication::platformName() != QLatin1String("xcb")) return 0;
    // Qt's tray icon is a top-level widget of its own class; ours is the only one.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QSystemTrayIconSys") && widget->internalWinId())
            return static_cast<quint32>(widget->internalWinId());
    return 0;
}

} // namespace brindleaf
