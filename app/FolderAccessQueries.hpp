#pragma once

#include <functional>
#include <string>

namespace brindleaf {

// What the status bar controller asks of the folder-access grants.
class FolderAccessQueries {
public:
    virtual ~FolderAccessQueries() = default;
    // Whether every folder the provider (by catalog id) requires is readable.
    virtual bool hasAccess(const std::string& providerID) const = 0;
    // Called (on the main queue) each time the granted folders change; replaces
    // the earlier callback, and an empty one removes it.
    virtual void setOnGrantedFoldersChange(std::function<void()> onChange) = 0;
};

} // namespace brindleaf
