// The user's instance name: one home however it is written, another user or
// another home another name, and always short enough for a socket address.
#include "app/InstanceName.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/un.h>

using namespace brindleaf;
using namespace brindleaf::testing;
namespace fs = std::filesystem;

TEST(InstanceNameTests, OneNamePerUserAndHome) {
    TempDir root;
    fs::create_directories(root / "home" / "ann");
    fs::create_directory_symlink(root / "home", root / "link");
    const fs::path home = root / "home" / "ann";
    const std::string name = InstanceName::forUser(1000, home);
    EXPECT_TRUE(name.starts_with("brindleaf-instance-1000-")) << name;
    struct Case {
        const char* what;
        uid_t user;
        fs::path home;
        bool same;
    };
    const Case cases[] = {
        {"a trailing slash", 1000, home.string() + "/", true},
        {"a . and a .. step", 1000, root / "home" / "." / "ann" / ".." / "ann", true},
        {"through a link", 1000, root / "link" / "ann", true},
        {"another user", 1001, home, false},
        {"another home", 1000, root / "home" / "bob", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(InstanceName::forUser(c.user, c.home) == name, c.same);
    }
    // A home that does not exist, written two ways.
    EXPECT_EQ(InstanceName::forUser(1000, root / "home" / "bob"), InstanceName::forUser(1000, root / "home/./bob/"));
    // The address holds a NUL and the name.
    const std::string longest = InstanceName::forUser(4294967294u, fs::path("/") / std::string(4000, 'h'));
    EXPECT_LT(longest.size() + 1, sizeof(sockaddr_un{}.sun_path));
}
