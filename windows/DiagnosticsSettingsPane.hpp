#pragma once

#include "presentation/StatusDashboardModel.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "windows/DiagnosticsPaneContent.hpp"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace brindleaf {

class FormSection;

// The Diagnostics tab: hidden stale sessions per enabled agent with their
// reset, the agents' reading errors with their "New" marks and "Mark All as
// Read", and the sample-data switch. Everything comes from the dashboard
// model's displayed snapshot and follows its changes. Rows are updated in
// place, and an update that changes nothing shown touches no widget, so a
// selected error text, the focus and a press on a button outlive the polls.
//
// Object names, for tests: the count of each agent "stale-<id>", "resetCount",
// each error row its item id, "noErrors", "markAllAsRead", "showSampleData".
class DiagnosticsSettingsPane final : public QWidget {
    Q_OBJECT

public:
    DiagnosticsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                            std::shared_ptr<StatusDashboardModel> dashboardModel, QWidget* parent = nullptr);
    ~DiagnosticsSettingsPane() override;

    // Shows the model's and the store's current state.
    void refresh();

private:
    QWidget* makeStaleRow(const DiagnosticsPaneContent::StaleRow& row);
    QWidget* makeErrorRow(const DiagnosticsPaneContent::ErrorItem& item);

    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<StatusDashboardModel> model_;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    StatusDashboardModel::ObserverID modelObserver_ = 0;
    QWidget* staleRows_;
    QPushButton* resetCount_;
    QLabel* noErrors_;
    QWidget* errorRows_;
    QWidget* markAllRow_;
    QPushButton* markAll_;
    QCheckBox* sampleData_;
    QCheckBox* debugLogging_;
    // What is shown now (absent before the first refresh) and the rows by id.
    std::optional<DiagnosticsPaneContent::Shown> shown_;
    std::map<std::string, QWidget*> staleRowsByID_;
    std::map<std::string, QWidget*> errorRowsByID_;
};

} // namespace brindleaf
