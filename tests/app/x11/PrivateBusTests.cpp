// The test rigs' session buses start only what a test puts there: with the
// desktop portal installed on the machine, a Qt program on a rig's bus must
// not start it (its backend would hold the test's output open for ever).
#include "tests/support/PrivateSessionBus.hpp"
#include "tests/support/ProgramRun.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace brindleaf {
namespace {

std::string activatableNames(const std::string& address) {
    return testing::shellOutput("dbus-send --bus='" + address +
                                "' --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                                "org.freedesktop.DBus.ListActivatableNames 2>&1");
}

TEST(PrivateBus, StartsOnlyTheServicesOfItsOwnFolder) {
    struct Case {
        const char* rig;
        std::string address;
    };
    testing::PrivateSessionBus own;
    ASSERT_TRUE(own.isReady()) << "the test's own bus daemon did not answer";
    const char* rigAddress = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(rigAddress, nullptr) << "run inside tools/with-xvfb.sh, which gives the command a bus";
    {
        std::ofstream service(own.serviceFolder() / "org.example.Probe.service");
        service << "[D-BUS Service]\nName=org.example.Probe\nExec=/bin/true\n";
    }
    for (const Case& c : {Case{"with-xvfb.sh", rigAddress}, Case{"PrivateSessionBus", own.address()}}) {
        SCOPED_TRACE(c.rig);
        const std::string names = activatableNames(c.address);
        EXPECT_NE(names.find("\"org.freedesktop.DBus\""), std::string::npos) << names;
        EXPECT_EQ(names.find("portal"), std::string::npos) << names;
        EXPECT_EQ(names.find("org.freedesktop.Notifications"), std::string::npos) << names;
        EXPECT_EQ(names.find("org.kde"), std::string::npos) << names;
    }
    EXPECT_NE(activatableNames(own.address()).find("\"org.example.Probe\""), std::string::npos)
        << "a service the test put in its own folder is not offered";
}

} // namespace
} // namespace brindleaf
