#pragma once

#include "core/Date.hpp"

#include <optional>
#include <string>

namespace brindleaf {

// A session as an official Hermes status source reports it.
struct HermesOfficialSession {
    std::string id;
    std::string title;
    std::string cwd;
    std::optional<std::string> source;
    std::optional<Date> lastActivityAt;
    std::string evidence;
    bool needsUserAttention = false;
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;

    bool operator==(const HermesOfficialSession&) const = default;
};

} // namespace brindleaf
