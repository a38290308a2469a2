#include "services/StaleSessionBaselines.hpp"

#include "services/ProviderKey.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf {

namespace {

// The integer part of a stored number; absent for a value that is not a number
// or whose integer part lies outside the 64-bit range.
std::optional<std::int64_t> integerPart(const DefaultsValue& value) {
    if (const auto* integer = value.asInteger()) return *integer;
    if (const auto* number = value.asDouble()) {
        if (!std::isfinite(*number)) return std::nullopt;
        const double truncated = std::trunc(*number);
        // 2^63 is exactly representable; the valid range is [-2^63, 2^63).
        constexpr double limit = 9223372036854775808.0;
        if (truncated < -limit || truncated >= limit) return std::nullopt;
        return static_cast<std::int64_t>(truncated);
    }
    return std::nullopt;
}

} // namespace

ClearedStaleBaselines loadClearedStaleBaselines() { return loadClearedStaleBaselines(*UserDefaults::standard()); }

ClearedStaleBaselines loadClearedStaleBaselines(const UserDefaults& defaults) {
    ClearedStaleBaselines baselines;
    auto stored = defaults.dictionary(clearedStaleBaselinesKey);
    if (!stored) return baselines;
    for (const auto& [key, value] : *stored) {
        // A count of sessions is never negative: such a baseline counts as absent.
        if (auto baseline = integerPart(value); baseline && *baseline >= 0) baselines.emplace(key, *baseline);
    }
    return baselines;
}

std::int64_t hiddenStaleCountForProvider(const std::string& providerName, std::int64_t ignoredStaleSessions,
                                         const ClearedStaleBaselines& baselines) {
    auto it = baselines.find(providerKey(providerName));
    // A negative baseline counts as absent.
    const std::int64_t baseline = it == baselines.end() ? 0 : std::max<std::int64_t>(0, it->second);
    std::int64_t hidden = 0;
    // With a baseline of at least 0 the difference can only fall past the bottom.
    if (__builtin_sub_overflow(ignoredStaleSessions, baseline, &hidden)) return 0;
    return hidden < 0 ? 0 : hidden;
}

ClearedStaleBaselines baselinesAfterClearing(ClearedStaleBaselines baselines,
                                             const std::vector<ProviderSnapshot>& providerSnapshots) {
    for (const auto& snapshot : providerSnapshots) {
        if (snapshot.ignoredStaleSessions >= 1) baselines[providerKey(snapshot.providerName)] = snapshot.ignoredStaleSessions;
    }
    return baselines;
}

void saveClearedStaleBaselines(UserDefaults& defaults, const ClearedStaleBaselines& baselines) {
    DefaultsValue::Dictionary stored;
    for (const auto& [key, baseline] : baselines) stored.emplace(key, DefaultsValue(baseline));
    defaults.set(clearedStaleBaselinesKey, DefaultsValue(std::move(stored)));
}

} // namespace brindleaf
