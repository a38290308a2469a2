// The Claude Code transcript analyzer on any tail, and the desktop title and
// sub-agent metadata readers on any file contents.
#include "providers/claude/ClaudeStatusProvider.hpp"
#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    (void)ClaudeTranscriptAnalyzer::analyzeTail(input, 1767323045.0);
    (void)ClaudeTranscriptAnalyzer::analyzeTail(input, std::nullopt);
    const std::optional<std::string> contents{std::string(input)};
    (void)ClaudeStatusProvider::parseDesktopTitle(contents);
    (void)ClaudeStatusProvider::parseSubagentToolUseID(contents);
    return 0;
}
