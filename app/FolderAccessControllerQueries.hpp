#pragma once

#include "app/FolderAccessQueries.hpp"
#include "presentation/FolderAccessQuery.hpp"
#include "services/FolderAccessController.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindleaf {

// The status bar controller's and the dashboard's questions about folder
// access, answered by the folder-access controller. The callback is one
// observer of the controller, replaced on each call and removed with this
// object. Main thread only.
class FolderAccessControllerQueries final : public FolderAccessQueries, public FolderAccessQuery {
public:
    explicit FolderAccessControllerQueries(std::shared_ptr<FolderAccessController> controller);
    ~FolderAccessControllerQueries() override;
    FolderAccessControllerQueries(const FolderAccessControllerQueries&) = delete;
    FolderAccessControllerQueries& operator=(const FolderAccessControllerQueries&) = delete;

    bool hasAccess(const std::string& providerID) const override;
    bool hasMissingFolders(const std::string& providerID) const override;
    void setOnGrantedFoldersChange(std::function<void()> onChange) override;

private:
    std::shared_ptr<FolderAccessController> controller_;
    std::optional<FolderAccessController::ObserverID> observer_;
};

} // namespace brindleaf
