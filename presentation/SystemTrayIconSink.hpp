#pragma once

#include "presentation/StatusIconSink.hpp"

#include <QPointer>
#include <QSystemTrayIcon>

namespace brindleaf {

// Shows the images on a system tray icon. Icons are converted once per image
// object, so a loop of frames costs no conversions after its first round.
class SystemTrayIconSink final : public StatusIconSink {
public:
    explicit SystemTrayIconSink(QSystemTrayIcon* trayIcon) : trayIcon_(trayIcon) {}
    void showIcon(const StatusIconImageRef& image) override;

private:
    QPointer<QSystemTrayIcon> trayIcon_;
    std::vector<std::pair<StatusIconImageRef, QIcon>> converted_;
};

} // namespace brindleaf
