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

// A StatusNotifierItem tray host for the rig: LXQt's panel with only its
// statusnotifier plugin (it owns org.kde.StatusNotifierWatcher), on a D-Bus
// session of the test's own. The bus becomes this process's session bus
// (DBUS_SESSION_BUS_ADDRESS) for as long as the object lives, so that the
// application started meanwhile uses it; construct it before the TrayRig.
class StatusNotifierHost {
public:
    StatusNotifierHost();
    ~StatusNotifierHost();

    // Starts the panel and waits until its watcher has a host.
    void start();
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
    // The panel's place on the screen, once mapped.
    std::optional<QRect> panelArea() const;
    // The panel has settled at the screen's top: the window manager leaves
    // it out of the work area it publishes, which the application's screen
    // reads its available area from. Fails saying which part is missing.
    ::testing::AssertionResult isLeftOutOfWorkArea() const;

private:
    PrivateSessionBus bus_;
    std::string previousAddress_;
    bool hadAddress_ = false;
    TempDir config_;
    std::unique_ptr<ChildProcess> panel_;
};

} // namespace brindleaf::testing
