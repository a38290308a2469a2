#pragma once

#include <cstdint>
#include <string>

namespace brindleaf {

// Where Hermes keeps its state and the windows that turn its dates into a decision.
struct HermesProviderConfig {
    std::string hermesHome;               // normally "~/.hermes"
    double recentActivityWindow = 20;     // seconds
    double staleOpenSessionWindow = 300;  // seconds
    double stalePendingToolWindow = 900;  // seconds
    double runtimeActivityWindow = 180;   // seconds
    int64_t recentSessionLimit = 40;

    bool operator==(const HermesProviderConfig&) const = default;
};

} // namespace brindleaf
