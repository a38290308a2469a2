// The Hermes JSON readers (gateway state, child-process list, terminal tool
// calls) on any file contents.
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFile file;
    const auto input = fuzz::text(data, size);
    const std::string& path = file.write(input);
    (void)HermesStatusProvider::loadGatewayState(path);
    (void)HermesStatusProvider::loadChildProcessEntries(path);
    (void)HermesStatusProvider::terminalCommand(input);
    return 0;
}
