#pragma once

#include "app/shell/TrayIconBackend.hpp"
#include "presentation/SystemTrayIconSink.hpp"

#include <QSystemTrayIcon>

namespace brindleaf {

// The status icon as Qt's system tray icon, which Qt embeds into an XEmbed tray
// (now, or when one appears). It shows itself with its first image.
//
// Make it only while no StatusNotifierWatcher is on the session bus: Qt
// decides once per process, on its first tray icon, whether its tray icons
// go over D-Bus (when a watcher says it has a host), and keeps to it. The one
// exception is a watcher that refused our own item (TrayStatusItem): should
// Qt decide then, its icon goes to that watcher under a name of Qt's own.
class XEmbedTrayIcon final : public TrayIconBackend {
public:
    explicit XEmbedTrayIcon(ActivationHandler onActivation);
    ~XEmbedTrayIcon() override;
    XEmbedTrayIcon(const XEmbedTrayIcon&) = delete;
    XEmbedTrayIcon& operator=(const XEmbedTrayIcon&) = delete;

    void showIcon(const StatusIconImageRef& image) override;
    void showFrame(const StatusIconImageRef& image) override { showIcon(image); }
    void setToolTip(const QString& toolTip) override { icon_->setToolTip(toolTip); }
    QRect geometry() const override { return icon_->geometry(); }
    double maxFramesPerSecond() const override { return 0; }

    QSystemTrayIcon* trayIcon() const { return icon_; }
    // The X window Qt shows the icon in (the one the tray embeds); 0 before
    // it is shown or off X.
    quint32 windowId() const;

private:
    QSystemTrayIcon* icon_;
    SystemTrayIconSink sink_;
};

} // namespace brindleaf
