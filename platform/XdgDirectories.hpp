#pragma once

#include <filesystem>
#include <vector>

// The base folders of the XDG Base Directory rules, from the environment.
namespace brindleaf::XdgDirectories {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the user
// database's home when $HOME is unset or empty); empty when there is no home at all.
std::filesystem::path configHome();

// The absolute entries of $XDG_CONFIG_DIRS in order, "/etc/xdg" when it names none.
std::vector<std::filesystem::path> configDirs();

} // namespace brindleaf::XdgDirectories
