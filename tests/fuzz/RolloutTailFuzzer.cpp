// The Codex rollout tail analyzer on any bytes.
#include "providers/codex/RolloutTailAnalyzer.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    (void)RolloutTailAnalyzer::foldTail(input, 1767323045.0);
    (void)RolloutTailAnalyzer::foldTail(input, std::nullopt);
    (void)RolloutTailAnalyzer::requestsEscalation(input);
    return 0;
}
