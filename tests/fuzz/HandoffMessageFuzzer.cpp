// The hand-off message a second start sends over the instance socket: any
// bytes are read or refused without harm, only launch flags come out, and
// what comes out is handed over again unchanged.
#include "app/LaunchPlan.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string message(fuzz::text(data, size));
    const auto flags = LaunchPlan::parseHandoff(message);
    if (!flags) return 0;
    if (message.size() > LaunchPlan::handoffMessageLimit) fuzz::fail("a message over the limit was read");
    for (const auto& flag : *flags)
        if (!LaunchPlan::isLaunchFlag(flag)) fuzz::fail("a hand-off yielded something that is no launch flag");
    const std::string again = LaunchPlan::handoffMessage(*flags);
    if (again.size() > message.size()) fuzz::fail("the flags read take more room than their message");
    if (LaunchPlan::parseHandoff(again) != flags) fuzz::fail("the flags read do not hand over again unchanged");
    return 0;
}
