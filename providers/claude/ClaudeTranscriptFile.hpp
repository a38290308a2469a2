#pragma once

#include "core/Date.hpp"
#include "core/FileStat.hpp"

#include <optional>
#include <string>

namespace brindleaf {

// One transcript file as the listing found it.
struct ClaudeTranscriptFile {
    std::string path; // absolute
    Date modifiedAt = 0;
    std::optional<FileStat::Info> info;

    bool operator==(const ClaudeTranscriptFile&) const = default;
};

} // namespace brindleaf
