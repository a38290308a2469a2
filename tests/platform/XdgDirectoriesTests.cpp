#include "platform/XdgDirectories.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace brindleaf;
namespace fs = std::filesystem;

TEST(XdgDirectoriesTests, FoldersComeFromTheEnvironmentWithTheDefaults) {
    ::setenv("HOME", "/home/ann", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(XdgDirectories::configHome(), fs::path("/cfg"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(XdgDirectories::configHome(), fs::path("/home/ann/.config"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(XdgDirectories::configHome(), fs::path("/home/ann/.config"));

    ::setenv("XDG_CONFIG_DIRS", "/a:relative::/b/", 1);
    EXPECT_EQ(XdgDirectories::configDirs(), (std::vector<fs::path>{"/a", "/b/"}));
    ::setenv("XDG_CONFIG_DIRS", "relative", 1);
    EXPECT_EQ(XdgDirectories::configDirs(), (std::vector<fs::path>{"/etc/xdg"}));
    ::unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(XdgDirectories::configDirs(), (std::vector<fs::path>{"/etc/xdg"}));
}
