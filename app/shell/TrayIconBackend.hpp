#pragma once

#include "presentation/StatusIconImage.hpp"

#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>

namespace brindleaf {

// One way of putting the status icon into a tray: the XEmbed tray icon or our
// StatusNotifierItem. The status item hands it finished images (tinted for the
// panel) and hears of every click on the icon.
//
// Main thread only.
class TrayIconBackend {
public:
    // A click on the icon, any button. `hostPosition` is the place on the
    // screen the tray passed with it, if it passed one.
    using ActivationHandler = std::function<void(std::optional<QPoint> hostPosition)>;

    virtual ~TrayIconBackend() = default;
    // A still image (idle, waiting, the first running frame): every size it has.
    virtual void showIcon(const StatusIconImageRef& image) = 0;
    // A frame of the running loop; a backend for which images are dear may send
    // less of it.
    virtual void showFrame(const StatusIconImageRef& image) = 0;
    virtual void setToolTip(const QString& toolTip) = 0;
    // The icon's place on the screen; empty where the tray does not say.
    virtual QRect geometry() const = 0;
    // How many frames a second the running loop may show here; 0: no limit.
    virtual double maxFramesPerSecond() const = 0;
};

} // namespace brindleaf
