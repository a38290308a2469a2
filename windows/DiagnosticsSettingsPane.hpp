#pragma once

#include "presentation/StatusDashboardModel.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <QWidget>

#include <memory>

class QCheckBox;
class QPushButton;
class QVBoxLayout;

namespace brindleaf {

class FormSection;

// The Diagnostics tab: hidden stale sessions per enabled agent with their
// reset, the agents' reading errors with their "New" marks and "Mark All as
// Read", and the sample-data switch. Everything comes from the dashboard
// model's displayed snapshot and follows its changes.
//
// Object names, for tests: the count of each agent "stale-<id>", "resetCount",
// each error row its item id, "noErrors", "markAllAsRead", "showSampleData".
class DiagnosticsSettingsPane final : public QWidget {
    Q_OBJECT

public:
    DiagnosticsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                            std::shared_ptr<StatusDashboardModel> dashboardModel, QWidget* parent = nullptr);
    ~DiagnosticsSettingsPane() override;

    void refresh();

private:
    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<StatusDashboardModel> model_;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    StatusDashboardModel::ObserverID modelObserver_ = 0;
    QWidget* staleRows_;
    QPushButton* resetCount_;
    QWidget* errorRows_;
    QCheckBox* sampleData_;
};

} // namespace brindleaf
