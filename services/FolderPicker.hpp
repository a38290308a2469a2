#pragma once

#include <optional>
#include <string>

namespace brindleaf {

// The panel in which the user chooses a folder to grant access to. The
// application's implementation shows a modal dialog; tests answer by hand.
class FolderPicker {
public:
    struct Request {
        std::string message;         // why the folder is needed
        std::string prompt;          // the accepting button's title
        std::string startingFolder;  // shown first
        bool canChooseFiles = false; // folders only
        bool allowsMultipleSelection = false;
        bool canCreateFolders = false;
        bool showsHiddenFiles = true;
    };

    virtual ~FolderPicker() = default;
    // Brings the application to the front and runs the panel modally; the
    // chosen folder's path, absent when the user cancelled.
    virtual std::optional<std::string> chooseFolder(const Request& request) = 0;
};

} // namespace brindleaf
