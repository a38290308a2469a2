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

    // The values the application runs with, for the user whose home directory is `home`.
    static HermesProviderConfig standard(const std::string& home) {
        HermesProviderConfig config;
        config.hermesHome = home + "/.hermes";
        config.recentActivityWindow = 20;
        config.staleOpenSessionWindow = 300;
        config.stalePendingToolWindow = 900;
        config.runtimeActivityWindow = 180;
        config.recentSessionLimit = 40;
        return config;
    }
};

} // namespace brindleaf
