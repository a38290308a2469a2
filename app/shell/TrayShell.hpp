#pragma once

#include "app/PopoverToggle.hpp"
#include "app/shell/PopoverWindow.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "platform/MainQueue.hpp"

#include <QLabel>
#include <QObject>
#include <QPointer>

#include <memory>

namespace brindleaf {

class GlobalHotkeyMonitor;
class KeyGrabber;
class ProviderSettingsStore;

// What the user sees of the running application: the tray icon, the popup a
// click or hot key 1 toggles, and the global hot keys.
//
// Main thread only.
class TrayShell final : public QObject {
    Q_OBJECT
public:
    TrayShell(MainQueue& mainQueue, ProviderSettingsStore& settings, QObject* parent = nullptr);
    ~TrayShell() override;

    void render(const AgentStatusSnapshot& snapshot);
    TrayStatusItem& statusItem() { return statusItem_; }

    // The tray icon's click or hot key 1: closes the open popup, else opens it.
    void togglePopover(bool byIconClick);
    void showPopover();
    bool isPopoverShown() const { return popover_ && popover_->isVisible(); }

private:
    void updatePopoverContent();

    MainQueue& mainQueue_;
    ProviderSettingsStore& settings_;
    TrayStatusItem statusItem_;
    AgentStatusSnapshot snapshot_;
    PopoverToggle popoverToggle_;
    QPoint lastClick_;
    QPointer<PopoverWindow> popover_;
    QPointer<QLabel> summary_;
    std::shared_ptr<KeyGrabber> keyGrabber_;
    std::unique_ptr<GlobalHotkeyMonitor> popoverHotkey_;
};

} // namespace brindleaf
