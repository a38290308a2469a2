#pragma once

#include "tests/support/TempDir.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindleaf::testing {

// Points HOME and the XDG base folders (config, data, cache, state, runtime)
// of this process into a fresh temporary folder while the object lives, so
// nothing the tests run writes into the user's own folders (Qt's file dialog
// keeps its state in $XDG_CONFIG_HOME/QtProject.conf). Meant as one static
// object per test binary, made before main and thus before any QApplication.
class IsolatedUserFolders {
public:
    IsolatedUserFolders();
    ~IsolatedUserFolders();
    IsolatedUserFolders(const IsolatedUserFolders&) = delete;
    IsolatedUserFolders& operator=(const IsolatedUserFolders&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }

private:
    TempDir root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace brindleaf::testing
