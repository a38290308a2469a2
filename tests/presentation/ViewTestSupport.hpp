#pragma once

#include "presentation/FolderAccessQuery.hpp"

#include <set>
#include <string>

namespace brindleaf {
class ManualMainQueue;
}

namespace brindleaf::testing {

// Folder access per provider id as the test sets it: by default every
// agent's folders are readable and none is missing.
class FakeFolderAccess final : public FolderAccessQuery {
public:
    std::set<std::string> missing;
    std::set<std::string> granted{"codex", "claude", "hermes"};
    bool hasMissingFolders(const std::string& id) const override { return missing.count(id) > 0; }
    bool hasAccess(const std::string& id) const override { return granted.count(id) > 0; }
};

// Lets a model on the queue and the views drawn from it run their next-turn
// work: the queue's jobs, then Qt's events, three rounds.
void settle(ManualMainQueue& queue);

} // namespace brindleaf::testing
