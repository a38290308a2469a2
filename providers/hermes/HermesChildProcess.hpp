#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// One live entry of Hermes's "processes.json".
struct HermesChildProcess {
    std::string id;
    std::string sessionKey;
    std::string command;
    int64_t pid = 0;
    std::optional<std::string> cwd;
    std::optional<Date> startedAt;

    bool operator==(const HermesChildProcess&) const = default;
};

} // namespace brindleaf
