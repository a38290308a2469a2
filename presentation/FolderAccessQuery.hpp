#pragma once

#include <string>

namespace brindleaf {

// What the dashboard asks of the folder-access controller, per provider id
// ("codex", "claude", "hermes"). The application answers it from the
// folder-access controller (FolderAccessControllerQueries); tests use a fake.
class FolderAccessQuery {
public:
    virtual ~FolderAccessQuery() = default;
    // Whether the provider has folders on disk that it would offer to grant
    // (the controller's missing folders are not empty).
    virtual bool hasMissingFolders(const std::string& providerID) const = 0;
    // Whether every folder the provider requires is readable.
    virtual bool hasAccess(const std::string& providerID) const = 0;
};

} // namespace brindleaf
