#pragma once

#include "services/FolderAccessController.hpp"

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace brindleaf {

// One folder an agent needs: its path under the home folder, and whether it
// may be read ("Allowed"), can be granted ("Allow Access…") or is missing
// ("Not Installed"). Shared by the Agents pane and the welcome window; the
// owner calls refresh() when the folder-access controller changes.
//
// Child object names, for tests: "folderPath", "allowed", "allowAccess", "notInstalled".
class FolderAccessLine final : public QWidget {
    Q_OBJECT

public:
    FolderAccessLine(FolderAccessController::Folder folder, std::shared_ptr<FolderAccessController> folderAccess,
                     QWidget* parent = nullptr);

    FolderAccessController::Folder folder() const { return folder_; }
    // Asks the disk again whether the folder exists.
    void refresh();

private:
    FolderAccessController::Folder folder_;
    std::shared_ptr<FolderAccessController> folderAccess_;
    QWidget* allowed_;
    QPushButton* allowAccess_;
    QLabel* notInstalled_;
};

} // namespace brindleaf
