// The Hermes agent log reader on any tail.
#include "providers/hermes/HermesStatusProvider.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    const auto signals = HermesStatusProvider::runtimeSignalsFromLogTail(input);
    if (signals.size() > HermesStatusProvider::logLineLimit) fuzz::fail("more signals than lines read");
    return 0;
}
