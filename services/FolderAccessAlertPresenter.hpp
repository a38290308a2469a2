#pragma once

#include <string>

namespace brindleaf {

// Tells the user that a chosen folder was the wrong one. The application's
// implementation shows a modal alert; tests record the texts.
class FolderAccessAlertPresenter {
public:
    virtual ~FolderAccessAlertPresenter() = default;
    // A modal alert with one button, the default one; returns when it is closed.
    virtual void showAlert(const std::string& title, const std::string& text) = 0;
};

} // namespace brindleaf
