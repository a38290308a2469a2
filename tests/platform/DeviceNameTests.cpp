#include "platform/DeviceName.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using namespace brindleaf::testing;

TEST(DeviceName, PrettyHostNameFromMachineInfoElseHostName) {
    EXPECT_EQ(DeviceName::prettyHostName("PRETTY_HOSTNAME=Desk\n"), "Desk");
    EXPECT_EQ(DeviceName::prettyHostName("# comment\nCHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Laptop\"\n"),
              "Ada's Laptop");
    EXPECT_EQ(DeviceName::prettyHostName("PRETTY_HOSTNAME='Studio \"B\"'"), "Studio \"B\"");
    EXPECT_EQ(DeviceName::prettyHostName("PRETTY_HOSTNAME=My\\ Box"), "My Box");
    EXPECT_EQ(DeviceName::prettyHostName("PRETTY_HOSTNAME=\"\"\nICON_NAME=computer"), "");
    EXPECT_EQ(DeviceName::prettyHostName(""), "");

    TempDir dir;
    EXPECT_EQ(DeviceName::fromMachineInfo(dir.write("machine-info", "PRETTY_HOSTNAME=\"Büro Rechner\"\n")),
              "Büro Rechner");
    std::string host = DeviceName::hostName();
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(DeviceName::fromMachineInfo(dir / "missing"), host);
    EXPECT_EQ(DeviceName::fromMachineInfo(dir.write("empty-info", "PRETTY_HOSTNAME=\n")), host);
}
