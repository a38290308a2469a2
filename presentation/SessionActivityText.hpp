#pragma once

#include <string>
#include <string_view>

namespace brindleaf {

// What one session is doing, in a short phrase, from its evidence sentence.
namespace SessionActivityText {

// The first matching rule wins (substring tests on the lower-cased activity):
// needs attention, "waiting for your choice" / "awaiting user authorization",
// scheduled wakeup / sleeping, background task, sub-agents, context
// compression, tool, open turns ("Thinking…"), else "Working".
std::string text(std::string_view activity, bool needsAttention);

} // namespace SessionActivityText

} // namespace brindleaf
