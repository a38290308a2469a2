#pragma once

#include "services/FolderAccessController.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QLabel;

namespace brindleaf {

class FolderAccessLine;
class FormSection;

// The Agents tab: every catalog agent with a switch (the last live one cannot
// be switched off) and, while confined, the folder lines under each. Follows
// the settings store and the folder-access controller.
//
// Object names, for tests: each switch "agent-<id>", each folder line
// "folder-<raw value>", the footer lines "agentsFooter".
class AgentsSettingsPane final : public QWidget {
    Q_OBJECT

public:
    AgentsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                       std::shared_ptr<FolderAccessController> folderAccess, QWidget* parent = nullptr);
    ~AgentsSettingsPane() override;

    void refresh();

private:
    struct Row {
        ProviderDescriptor provider;
        QCheckBox* toggle;
    };

    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<FolderAccessController> folderAccess_;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    FolderAccessController::ObserverID folderObserver_ = 0;
    std::vector<Row> rows_;
    std::vector<FolderAccessLine*> lines_;
    QLabel* footer_;
};

} // namespace brindleaf
