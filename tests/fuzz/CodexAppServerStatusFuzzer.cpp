// The Codex app-server status parser: statuses or its parse error, nothing else.
#include "providers/codex/CodexAppServerStatusParser.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        (void)CodexAppServerStatusParser::parseSnapshot(fuzz::text(data, size), 1767323045.0);
    } catch (const CodexAppServerStatusParser::ParseError&) {
    }
    return 0;
}
