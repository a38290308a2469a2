#pragma once

#include "app/HotkeyRegistrar.hpp"
#include "services/GlobalHotkeyMonitor.hpp"

#include <memory>
#include <utility>

namespace brindleaf {

// A shortcut slot of the status bar controller held by a system-wide hot key
// monitor. The outcome of each registration is the monitor's to report.
class GlobalHotkeyMonitorRegistrar final : public HotkeyRegistrar {
public:
    explicit GlobalHotkeyMonitorRegistrar(std::shared_ptr<GlobalHotkeyMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    void registerShortcut(const HotkeyShortcut& shortcut) override { monitor_->registerShortcut(shortcut); }
    const std::shared_ptr<GlobalHotkeyMonitor>& monitor() const { return monitor_; }

private:
    std::shared_ptr<GlobalHotkeyMonitor> monitor_;
};

} // namespace brindleaf
