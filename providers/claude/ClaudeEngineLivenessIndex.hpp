#pragma once

#include "core/ProcessResourceSample.hpp"
#include "core/ProcessTree.hpp"
#include "core/SessionResourceUsage.hpp"
#include "providers/claude/ClaudeEngineKey.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// True when a command line runs the Claude Code engine: it contains
// "claude-code", is "claude", begins with "claude ", or has "/claude" followed
// by a blank or the end.
bool isClaudeEngineCommand(std::string_view command);

// Which processes of one process snapshot are Claude Code engines, which
// sessions and projects they serve and which shell tasks they spawned. Built
// once per process snapshot and registry; read-only afterwards.
struct ClaudeEngineLivenessIndex {
    ProcessTree processTree;
    std::unordered_map<std::string, int64_t> engineCwdCounts;               // project key -> engines there
    std::unordered_map<std::string, std::vector<int64_t>> enginePIDsByKey;  // in snapshot order
    std::unordered_map<std::string, int64_t> enginePIDBySessionID;
    bool sawEngineProcess = false;
    bool snapshotEmpty = true;
    std::set<std::string> cwdsWithShellTaskChildren;
    bool sawUnattributableShellTask = false;

    static ClaudeEngineLivenessIndex build(const std::vector<ProcessResourceSample>& samples,
                                           const std::map<int64_t, std::string>& registry);

    // Engine test without the desktop app's disclaimer helper; remembered per command line.
    static bool isEngineProcessCommand(std::string_view command);
    // Every character but an ASCII letter or digit becomes "-" (per UTF-16 unit).
    static std::string projectKey(std::string_view path);
    // The session id after "--resume" or "--resume=" in a command line.
    static std::optional<std::string> resumeSessionID(std::string_view command);

    int64_t engineCount(const std::string& key) const {
        auto it = engineCwdCounts.find(key);
        return it == engineCwdCounts.end() ? 0 : it->second;
    }

    // The first candidate key with an engine, else the first candidate key.
    std::optional<std::string> resolvedEngineKey(const ClaudeEngineKey& key) const;
    // true: the session's engine is gone; false: it runs; absent: cannot tell.
    std::optional<bool> engineGoneVerdict(const std::optional<std::string>& sessionID, const ClaudeEngineKey& key,
                                          bool isClaimed) const;
    bool hasEngineInCandidateCwd(const ClaudeEngineKey& key) const;
    // Whether an engine of the project still has a shell task below it; absent: cannot tell.
    std::optional<bool> shellTaskVerdict(const ClaudeEngineKey& key) const;
    std::optional<SessionResourceUsage> engineResourceUsage(const std::string& sessionID,
                                                            const ClaudeEngineKey& key) const;
};

} // namespace brindleaf
