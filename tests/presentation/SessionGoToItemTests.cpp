#include "presentation/SessionGoToItem.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(SessionGoToItem, EnabledOnlyOnceTheCheckSaysItCanGoElseItSaysWhy) {
    struct Case {
        std::optional<int64_t> pid;
        std::optional<SessionJumpCheck> check;
        SessionGoToItem item;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, {false, "Brindleaf does not know which process runs this session."}},
        {std::nullopt, SessionJumpCheck{true, ""}, {false, SessionGoToItem::unknownProcess}},
        {7, std::nullopt, {false, "Looking for the session's terminal\u2026"}},
        {7, SessionJumpCheck{true, ""}, {true, ""}},
        {7, SessionJumpCheck{false, "The session's process has ended."}, {false, "The session's process has ended."}},
        {7, SessionJumpCheck{false, SessionJumper::noTerminal}, {false, "The session does not run in a terminal."}},
        {7, SessionJumpCheck{false, ""}, {false, SessionJumper::noWindow}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SessionGoToItem::make(c.pid, c.check), c.item)
            << (c.pid ? *c.pid : -1) << " " << (c.check ? c.check->reason : "unchecked");
}
