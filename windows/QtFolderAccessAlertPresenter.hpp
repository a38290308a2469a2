#pragma once

#include "services/FolderAccessAlertPresenter.hpp"

namespace brindleaf {

// The wrong-folder alert as a modal message box with one default OK button,
// its texts shown as plain text. Main thread only.
class QtFolderAccessAlertPresenter final : public FolderAccessAlertPresenter {
public:
    void showAlert(const std::string& title, const std::string& text) override;
};

} // namespace brindleaf
