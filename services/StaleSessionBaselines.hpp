#pragma once

#include "core/ProviderSnapshot.hpp"
#include "platform/UserDefaults.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brindleaf {

// Per provider key ("claude code"), the count of stale sessions the user
// declared seen. Only stale sessions beyond it are reported.
using ClearedStaleBaselines = std::map<std::string, std::int64_t>;

inline constexpr const char* clearedStaleBaselinesKey = "Brindleaf.signalHealthClearedStaleBaselines.v1";

// The stored baselines of the standard suite; empty when absent or not a dictionary.
ClearedStaleBaselines loadClearedStaleBaselines();
// The same from any suite. Integers are kept; other numbers keep their integer
// part when it fits in 64 bits; anything else, and any negative baseline, is
// skipped. Keys stay as stored.
ClearedStaleBaselines loadClearedStaleBaselines(const UserDefaults& defaults);

// The provider's stale count less its baseline (a negative one counting as
// absent), never below 0.
std::int64_t hiddenStaleCountForProvider(const std::string& providerName, std::int64_t ignoredStaleSessions,
                                         const ClearedStaleBaselines& baselines);

// The baselines after the user cleared: every provider with at least one stale
// session takes its current count; the others keep theirs.
ClearedStaleBaselines baselinesAfterClearing(ClearedStaleBaselines baselines,
                                             const std::vector<ProviderSnapshot>& providerSnapshots);

// Writes the whole dictionary under the key.
void saveClearedStaleBaselines(UserDefaults& defaults, const ClearedStaleBaselines& baselines);

} // namespace brindleaf
