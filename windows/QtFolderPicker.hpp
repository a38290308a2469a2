#pragma once

#include "services/FolderPicker.hpp"

namespace brindleaf {

// The folder panel as a Qt file dialog: folders only, hidden folders shown,
// opening at the expected folder, with the request's explanation above the
// list and its prompt on the accepting button. Modal; main thread only.
class QtFolderPicker final : public FolderPicker {
public:
    std::optional<std::string> chooseFolder(const Request& request) override;
};

} // namespace brindleaf
