#pragma once

#include <string>

namespace brindleaf::bench {

// Runs one warm refresh case ("Service|Claude|Codex|Hermes/<size>") a fixed
// number of times outside Google Benchmark, after the same two warm-up
// refreshes, so that strace, perf or callgrind see a known count. Returns the
// process exit status (2 for an unknown case).
int repeatWarmRefresh(const std::string& which, int iterations);

} // namespace brindleaf::bench
