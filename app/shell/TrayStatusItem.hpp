#pragma once

#include "core/AgentStatusSnapshot.hpp"
#include "platform/MainQueue.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "presentation/StatusItemRenderer.hpp"
#include "presentation/SystemTrayIconSink.hpp"
#include "presentation/TrayIconAnimator.hpp"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSystemTrayIcon>

#include <memory>

namespace brindleaf {

// The tray icon of the running application: the icon factory's images, the
// running loop and the tooltip, as the renderer decides. Shown at once even
// without a tray host (Qt embeds it when one appears); that case is logged once.
//
// Main thread only.
class TrayStatusItem final : public QObject, private StatusItemCanvas {
    Q_OBJECT
public:
    TrayStatusItem(MainQueue& mainQueue, QObject* parent = nullptr);
    ~TrayStatusItem() override;

    // Takes the icon set of the settings; the next render shows it.
    void reloadIcons(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size);
    void render(const AgentStatusSnapshot& snapshot);
    void setAnimationSuspended(bool suspended);
    void setReduceMotion(bool reduce);

    // The icon's place on the screen; empty where the tray does not say.
    QRect geometry() const;
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    const StatusItemRenderer& renderer() const { return renderer_; }

signals:
    // A click on the icon (any button): the popover opens or closes. `cursor`
    // is the pointer at the click.
    void clicked(QPoint cursor);

private:
    void showImage(Image image) override;
    void playAnimation() override;
    void stopAnimation() override;
    void setTooltip(const std::string& tooltip, const std::string& accessibleValue) override;

    QSystemTrayIcon* trayIcon_;
    SystemTrayIconSink sink_;
    TrayIconAnimator animator_;
    StatusItemRenderer renderer_{*this};
    const StatusIconFactory::IconSet* icons_ = nullptr;
};

} // namespace brindleaf
