#pragma once

#include "tests/support/ChildProcess.hpp"
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/TempDir.hpp"

#include <QImage>
#include <QRect>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf::testing {

// A StatusNotifierItem tray host for the rig, on a D-Bus session of the
// test's own: LXQt's panel with only its statusnotifier plugin, or the
// standalone tray of gtk-sni-tray (which takes the watcher's name before its
// object is there, and registers its host a moment later). Either owns
// org.kde.StatusNotifierWatcher. The bus becomes this process's session bus
// (DBUS_SESSION_BUS_ADDRESS) for as long as the object lives, so that the
// application started meanwhile uses it; construct it before the TrayRig.
class StatusNotifierHost {
public:
    enum class Panel { lxqt, gtkSniTray };

    // `look`: LXQt's theme ("dark", "light"; its default when empty), or
    // gtk-sni-tray's background colour ("#303030"; see-through when empty).
    explicit StatusNotifierHost(Panel panel = Panel::lxqt, const std::string& look = {});
    ~StatusNotifierHost();

    // Starts the panel and waits until its watcher has a host; false when it
    // has none after the wait.
    bool start();
    // Ends the panel and waits until its watcher has left the bus.
    bool stop();
    // The items registered with the watcher ("<service>/StatusNotifierItem").
    std::vector<std::string> registeredItems() const;
    // The bus name of our application's item, once registered.
    std::optional<std::string> brindleafItem() const;
    // A property of an item as busctl prints it ("s \"Brindleaf\"").
    std::string itemProperty(const std::string& service, const std::string& name) const;
    // The item's icon images, as a host reads them.
    std::vector<QImage> itemPixmaps(const std::string& service) const;
    // Where the panel shows the icon: the area of ink on the panel.
    std::optional<QRect> iconArea() const;
    // The panel's own pixels (null while it is not mapped).
    QImage panelImage() const;
    // Each icon the panel shows, in the panel's coordinates: ink from the top
    // to the bottom of a run of columns, the runs set apart by `gap` or more
    // columns of the panel's own colour (icons sit farther apart than the
    // strokes of one icon).
    static std::vector<QRect> iconsIn(const QImage& panel, int gap = 4);
    // The colour the next start gives gtk-sni-tray's bar ("#303030").
    void setLook(const std::string& look) { look_ = look; }
    // The panel's place on the screen, once mapped.
    std::optional<QRect> panelArea() const;
    // The panel has settled at the screen's top: the window manager leaves
    // it out of the work area it publishes, which the application's screen
    // reads its available area from. Fails saying which part is missing.
    ::testing::AssertionResult isLeftOutOfWorkArea() const;

private:
    Panel kind_;
    std::string look_;
    PrivateSessionBus bus_;
    std::string previousAddress_;
    bool hadAddress_ = false;
    TempDir config_;
    std::unique_ptr<ChildProcess> panel_;
};

} // namespace brindleaf::testing
