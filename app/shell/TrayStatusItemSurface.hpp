#pragma once

#include "app/StatusItemSurface.hpp"
#include "app/shell/TrayStatusItem.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <memory>
#include <utility>

namespace brindleaf {

// The status bar controller's view of the tray icon: the icon set comes from
// the settings at each reload. Main thread only.
class TrayStatusItemSurface final : public StatusItemSurface {
public:
    TrayStatusItemSurface(TrayStatusItem& item, std::shared_ptr<ProviderSettingsStore> settings)
        : item_(item), settings_(std::move(settings)) {}

    void reloadIcons() override {
        item_.reloadIcons(settings_->iconStyle(), settings_->iconRenderingMode(), settings_->iconSizeOption());
    }
    void render(const AgentStatusSnapshot& snapshot) override { item_.render(snapshot); }

private:
    TrayStatusItem& item_;
    std::shared_ptr<ProviderSettingsStore> settings_;
};

} // namespace brindleaf
