#include "tests/support/IsolatedUserFolders.hpp"

#include <cstdlib>

namespace brindleaf::testing {

IsolatedUserFolders::IsolatedUserFolders() {
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", "home"},
        {"XDG_CONFIG_HOME", "config"},
        {"XDG_DATA_HOME", "data"},
        {"XDG_CACHE_HOME", "cache"},
        {"XDG_STATE_HOME", "state"},
        {"XDG_RUNTIME_DIR", "runtime"},
    };
    for (const auto& [variable, folder] : folders) {
        const char* old = std::getenv(variable);
        saved_.emplace_back(variable, old ? std::optional<std::string>(old) : std::nullopt);
        const std::filesystem::path path = root_ / folder;
        std::filesystem::create_directories(path);
        // The runtime folder must be the user's alone.
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        ::setenv(variable, path.c_str(), 1);
    }
}

IsolatedUserFolders::~IsolatedUserFolders() {
    for (const auto& [variable, value] : saved_) {
        if (value) {
            ::setenv(variable.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(variable.c_str());
        }
    }
}

} // namespace brindleaf::testing
