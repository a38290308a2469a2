#include "app/FolderAccessControllerQueries.hpp"

#include <utility>

namespace brindleaf {

FolderAccessControllerQueries::FolderAccessControllerQueries(std::shared_ptr<FolderAccessController> controller)
    : controller_(std::move(controller)) {}

FolderAccessControllerQueries::~FolderAccessControllerQueries() { setOnGrantedFoldersChange(nullptr); }

bool FolderAccessControllerQueries::hasAccess(const std::string& providerID) const {
    return controller_->hasAccess(providerID);
}

bool FolderAccessControllerQueries::hasMissingFolders(const std::string& providerID) const {
    return !controller_->missingFolders(providerID).empty();
}

void FolderAccessControllerQueries::setOnGrantedFoldersChange(std::function<void()> onChange) {
    if (observer_) controller_->removeObserver(*observer_);
    observer_.reset();
    if (onChange) observer_ = controller_->addObserver(std::move(onChange));
}

} // namespace brindleaf
