#pragma once

#include "app/TrayHostChoice.hpp"
#include "app/shell/TrayIconBackend.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "platform/MainQueue.hpp"
#include "presentation/Appearance.hpp"
#include "presentation/PanelAppearance.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "presentation/StatusIconSink.hpp"
#include "presentation/StatusItemRenderer.hpp"
#include "presentation/TrayIconAnimator.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSystemTrayIcon;

namespace brindleaf {

class StatusNotifierItem;
class TrayHostMonitor;
class X11PanelSampler;

// The tray icon of the running application: the icon factory's images, the
// running loop and the tooltip, as the renderer decides, in whichever tray the
// desktop has. Over a StatusNotifierItem host it is our own item on the session
// bus; otherwise Qt's XEmbed tray icon (which embeds itself once a tray
// appears). Watching the hosts, it moves the icon when a tray comes or goes
// (TrayHostChoice), and to an XEmbed tray when the watcher will not take our
// item or the item cannot go on the bus. Every template image goes out tinted for the panel's
// appearance, the running frames too. With no tray at start, that is logged once.
//
// The panel's appearance is decided by PanelAppearance from what the tray in
// use tells: the XEmbed tray's colours (followed as they change), the panel's
// pixels (read again at every render, so at the refresh cadence: around the
// embedded XEmbed icon, or the dock window of the StatusNotifierWatcher's
// process), the desktop's colour scheme (handed in) and the application's
// palette. A change is logged ("statusItem.panelAppearance").
//
// Main thread only.
class TrayStatusItem final : public QObject, private StatusItemCanvas {
    Q_OBJECT
public:
    // Qt's tray icon only; no host is watched.
    explicit TrayStatusItem(MainQueue& mainQueue, QObject* parent = nullptr);
    // With a bus: watches it for a StatusNotifierWatcher and, with `watchX11`,
    // the X server for an XEmbed tray. Without one: as above.
    TrayStatusItem(MainQueue& mainQueue, std::optional<QDBusConnection> bus, bool watchX11, QObject* parent = nullptr);
    ~TrayStatusItem() override;

    // Takes the icon set of the settings as the tray gets it (every size on
    // one canvas, StatusIconFactory::trayIconSet); the next render shows it.
    void reloadIcons(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size);
    void render(const AgentStatusSnapshot& snapshot);
    void setAnimationSuspended(bool suspended);
    void setReduceMotion(bool reduce);
    // The desktop's colour scheme (the settings portal's), none without a preference.
    void setDesktopColourScheme(std::optional<Appearance> scheme);
    // The appearance the icon is tinted for, and the signal that decided it.
    PanelAppearance::Decision panelAppearance() const { return decision_; }

    // The icon's place on the screen; empty where the tray does not say.
    QRect geometry() const;
    // The tray in use.
    TrayHostChoice::Tray tray() const { return tray_; }
    // Qt's tray icon while it is in use, else null.
    QSystemTrayIcon* trayIcon() const;
    const StatusItemRenderer& renderer() const { return renderer_; }
    const TrayIconAnimator& animator() const { return animator_; }

signals:
    // A click on the icon (any button): the popover opens or closes. `pointer`
    // is the pointer at the click; `hostPosition` the place the tray passed
    // with it, if any.
    void clicked(QPoint pointer, std::optional<QPoint> hostPosition);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class FrameSink final : public StatusIconSink {
    public:
        explicit FrameSink(TrayStatusItem& item) : item_(item) {}
        void showIcon(const StatusIconImageRef& image) override;

    private:
        TrayStatusItem& item_;
    };

    void showImage(Image image) override;
    void playAnimation() override;
    void stopAnimation() override;
    void setTooltip(const std::string& tooltip, const std::string& accessibleValue) override;

    void hostsChanged();
    void statusNotifierRefused(const StatusNotifierItem* item);
    void useTray(TrayHostChoice::Tray tray);
    void showStill();
    StatusIconImageRef tinted(const StatusIconImageRef& image);
    void setAppearance(Appearance appearance);
    void decideAppearance();
    void readTrayColours();
    void samplePanel();
    void askWatcherPid();

    MainQueue& mainQueue_;
    std::optional<QDBusConnection> bus_;
    TrayHostMonitor* monitor_ = nullptr;
    TrayHostChoice::Tray tray_ = TrayHostChoice::Tray::none;
    // The watcher on the bus would not take our item (or it could not be exported).
    bool itemRefused_ = false;
    // On a Wayland compositor there is no XEmbed tray to fall back on.
    bool noXEmbed_ = false;
    std::unique_ptr<TrayIconBackend> backend_;
    FrameSink frameSink_{*this};
    TrayIconAnimator animator_;
    StatusItemRenderer renderer_{*this};
    const StatusIconFactory::IconSet* icons_ = nullptr;
    Appearance appearance_ = Appearance::light;
    PanelAppearance::Signals signals_;
    PanelAppearance::Decision decision_;
    bool decided_ = false;
    std::unique_ptr<X11PanelSampler> sampler_;
    // The process of the StatusNotifierWatcher in use (0: not known).
    quint32 watcherPid_ = 0;
    unsigned pidQuestion_ = 0;
    // The still image showing (untinted), null while the loop plays.
    StatusIconImageRef still_;
    std::vector<std::pair<StatusIconImageRef, StatusIconImageRef>> tintedStills_;
    QString toolTip_;
};

} // namespace brindleaf
