#include "platform/Entitlements.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

TEST(Entitlements, FoundBesideABuiltProgramElseWhereItIsInstalled) {
    struct Case {
        const char* name;
        std::vector<std::string> files; // entitlement files, each with its own path as its value
        const char* executable;
        std::optional<std::string> found;
    };
    const Case cases[] = {
        {"build tree", {"build/app/brindleaf.entitlements"}, "build/app/brindleaf", "build/app/brindleaf.entitlements"},
        {"installed",
         {"usr/share/brindleaf/brindleaf.entitlements"},
         "usr/bin/brindleaf",
         "usr/share/brindleaf/brindleaf.entitlements"},
        {"beside wins",
         {"usr/bin/brindleaf.entitlements", "usr/share/brindleaf/brindleaf.entitlements"},
         "usr/bin/brindleaf",
         "usr/bin/brindleaf.entitlements"},
        {"other prefix", {"opt/b/share/brindleaf/brindleaf.entitlements"}, "usr/bin/brindleaf", std::nullopt},
        {"share without its folder", {"usr/share/brindleaf.entitlements"}, "usr/bin/brindleaf", std::nullopt},
        {"none", {}, "usr/bin/brindleaf", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write(c.executable, "#!/bin/sh\n");
        for (const auto& file : c.files) dir.write(file, "{\"where\": \"" + file + "\"}");
        const auto entitlements = Entitlements::forExecutable(dir / c.executable);
        EXPECT_EQ(entitlements.isLoaded(), c.found.has_value());
        if (c.found) {
            const auto where = entitlements.value("where");
            ASSERT_TRUE(where && where->is_string());
            EXPECT_EQ(where->get<std::string>(), *c.found);
        }
    }
}
