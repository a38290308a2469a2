#include "providers/codex/RolloutTailAnalyzer.hpp"

#include <benchmark/benchmark.h>

#include <string>

using namespace brindleaf;

namespace {

// A realistic 96 KiB rollout tail: turns with messages, reasoning, tool calls
// and their (long) outputs, token counts; cut in the middle of its first line.
std::string rolloutTail() {
    std::string text;
    int call = 0;
    while (text.size() < 2 * RolloutTailAnalyzer::defaultMaxBytes) {
        text += R"({"timestamp":"2025-06-01T10:00:00.000Z","type":"event_msg","payload":{"type":"task_started"}})" "\n";
        text += R"({"timestamp":"2025-06-01T10:00:00.100Z","type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"Please fix the failing tests in the parser module and run them again."}]}})" "\n";
        text += R"({"timestamp":"2025-06-01T10:00:01.000Z","type":"response_item","payload":{"type":"reasoning","summary":[{"type":"summary_text","text":"Looking at the parser tests to find the failure."}]}})" "\n";
        for (int i = 0; i < 3; ++i, ++call) {
            const std::string id = "call_" + std::to_string(call);
            text += R"({"timestamp":"2025-06-01T10:00:02.000Z","type":"response_item","payload":{"type":"function_call","name":"shell","arguments":"{\"command\":[\"bash\",\"-lc\",\"cargo test -p parser\"],\"workdir\":\"/home/dev/project\"}","call_id":")" + id + "\"}}\n";
            text += R"({"timestamp":"2025-06-01T10:00:05.000Z","type":"response_item","payload":{"type":"function_call_output","call_id":")" + id + R"(","output":"{\"output\":\")" + std::string(1500, 'o') + "\\\"}\"}}\n";
            text += R"({"timestamp":"2025-06-01T10:00:05.100Z","type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":12345,"output_tokens":678}}}})" "\n";
        }
        text += R"({"timestamp":"2025-06-01T10:00:09.000Z","type":"response_item","payload":{"type":"message","role":"assistant","content":[{"type":"output_text","text":"All tests pass now."}],"phase":"final_answer"}})" "\n";
        text += R"({"timestamp":"2025-06-01T10:00:09.100Z","type":"event_msg","payload":{"type":"task_complete","last_agent_message":"All tests pass now."}})" "\n";
    }
    return text.substr(text.size() - RolloutTailAnalyzer::defaultMaxBytes);
}

void BM_CodexRolloutTailFold(benchmark::State& state) {
    const std::string tail = rolloutTail();
    for (auto _ : state) {
        RolloutTailState folded = RolloutTailAnalyzer::foldTail(tail, 1700000000.0);
        benchmark::DoNotOptimize(folded);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(tail.size()));
}
BENCHMARK(BM_CodexRolloutTailFold)->Unit(benchmark::kMicrosecond);

} // namespace
