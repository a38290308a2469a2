#include "platform/XdgDirectories.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace brindleaf::XdgDirectories {

std::filesystem::path configHome() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return std::filesystem::path(configHome);
    std::string home;
    if (const char* value = std::getenv("HOME"); value && value[0] != '\0') {
        home = value;
    } else if (const struct passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        home = entry->pw_dir;
    }
    // Without a home there is no folder (rather than one relative to the working directory).
    if (home.empty()) return {};
    return std::filesystem::path(home) / ".config";
}

std::vector<std::filesystem::path> configDirs() {
    std::vector<std::filesystem::path> folders;
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = value ? value : "";
    while (!list.empty()) {
        auto colon = list.find(':');
        std::string_view entry = list.substr(0, colon);
        if (!entry.empty() && entry.front() == '/') folders.emplace_back(entry);
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    if (folders.empty()) folders.emplace_back("/etc/xdg");
    return folders;
}

} // namespace brindleaf::XdgDirectories
