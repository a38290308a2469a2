#pragma once

#include "core/Date.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "windows/CloudSyncChangeFanOut.hpp"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;

namespace brindleaf {

class StatusCloudSyncController;

// The sync tab (pane "iCloud"): the switch that writes "cloudSyncEnabled",
// the note when this copy has no record store, and while syncing is on the
// last success and failure. Follows the store and the sync controller's
// changes; the relative time is computed at each redraw.
//
// Object names, for tests: "cloudSyncEnabled", "syncUnavailable",
// "lastSynced", "syncFailure".
class CloudSyncSettingsPane final : public QWidget {
    Q_OBJECT

public:
    CloudSyncSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                          std::shared_ptr<StatusCloudSyncController> cloudSync,
                          std::shared_ptr<CloudSyncChangeFanOut> changes, std::function<Date()> clock = currentDate,
                          QWidget* parent = nullptr);
    ~CloudSyncSettingsPane() override;

    void refresh();

private:
    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<StatusCloudSyncController> cloudSync_;
    std::shared_ptr<CloudSyncChangeFanOut> changes_;
    std::function<Date()> clock_;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    CloudSyncChangeFanOut::ObserverID syncObserver_ = 0;
    QCheckBox* toggle_;
    QWidget* unavailable_;
    QWidget* lastSyncedRow_;
    QLabel* lastSynced_;
    QWidget* failureRow_;
    QLabel* failure_;
};

} // namespace brindleaf
