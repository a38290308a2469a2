#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// A transcript's two candidate project keys: the name of its project folder
// and the project key of the working directory it records.
struct ClaudeEngineKey {
    std::optional<std::string> projectDirectory;
    std::optional<std::string> transcriptCwd;

    // projectDirectory when present, then transcriptCwd when present and different.
    std::vector<std::string> candidateKeys() const {
        std::vector<std::string> keys;
        if (projectDirectory) keys.push_back(*projectDirectory);
        if (transcriptCwd && transcriptCwd != projectDirectory) keys.push_back(*transcriptCwd);
        return keys;
    }

    bool operator==(const ClaudeEngineKey&) const = default;
};

} // namespace brindleaf
