// The defaults suite's JSON reader and writer: any bytes read without a crash,
// and whatever was read writes back into a text that reads again, no larger
// than the input plus the writer's layout.
#include "platform/DefaultsJSON.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    auto document = DefaultsJSON::read(input);
    if (!document) return 0;
    for (const auto& [key, value] : document->values) {
        (void)DefaultsJSON::nestingDepth(value);
        (void)DefaultsJSON::encode(value);
    }
    const std::string written = DefaultsJSON::write(document->values, &*document);
    // Each key gains at most its indentation, a blank after the colon and a line feed.
    if (written.size() > input.size() + 6 * document->values.size() + 4) fuzz::fail("a rewrite grew the file");
    auto again = DefaultsJSON::read(written);
    if (!again) fuzz::fail("a written suite does not read again");
    if (again->values.size() != document->values.size()) fuzz::fail("a written suite lost keys");
    if (DefaultsJSON::write(again->values, &*again) != written) fuzz::fail("a second rewrite changed the file");
    return 0;
}
