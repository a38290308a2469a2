#pragma once

#include "services/SoftwareUpdater.hpp"
#include "windows/AboutUpdater.hpp"

#include <memory>

namespace brindleaf {

// The About pane's update controls over the process's software updater.
class SoftwareUpdaterControls final : public AboutUpdater {
public:
    explicit SoftwareUpdaterControls(std::shared_ptr<SoftwareUpdater> updater) : updater_(std::move(updater)) {}

    void checkForUpdates() override { updater_->checkForUpdates(); }
    bool automaticallyChecksForUpdates() override { return updater_->automaticallyChecksForUpdates(); }
    void setAutomaticallyChecksForUpdates(bool on) override { updater_->setAutomaticallyChecksForUpdates(on); }
    ObserverID addObserver(std::function<void()> observer) override {
        return updater_->addObserver(std::move(observer));
    }
    void removeObserver(ObserverID id) override { updater_->removeObserver(id); }

private:
    std::shared_ptr<SoftwareUpdater> updater_;
};

} // namespace brindleaf
