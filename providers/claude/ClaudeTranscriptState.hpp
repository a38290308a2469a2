#pragma once

#include "core/Date.hpp"
#include "core/SessionRuntimeProfile.hpp"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindleaf {

// A sub-agent launched on the main chain (a "Task" or "Agent" call) that has no answer yet.
struct ClaudeSubagent {
    std::string toolUseID;
    std::optional<std::string> description;
    std::optional<std::string> subagentType;
    std::optional<SessionRuntimeProfile> runtimeProfile; // source claudeTaskRequest

    bool operator==(const ClaudeSubagent&) const = default;
};

// What the tail of one Claude Code transcript says about its session. The main
// chain is the records without a true "isSidechain", the sidechain the others.
// Every field describes only the tail that was read.
struct ClaudeTranscriptState {
    std::optional<std::string> sessionID;
    std::optional<std::string> cwd;
    std::optional<std::string> title;   // first line of the first plain main-chain prompt, at most 80 characters
    std::optional<std::string> aiTitle; // last "ai-title" record
    std::optional<std::string> lastRole;
    std::optional<Date> lastEventAt; // latest activity timestamp, else the file's modification time
    std::optional<SessionRuntimeProfile> runtimeProfile;
    std::optional<SessionRuntimeProfile> sidechainRuntimeProfile;
    bool hasPendingToolUse = false;
    bool hasMeaningfulTurn = false;
    bool hasOpenTurn = false; // the main chain waits for the assistant
    std::optional<std::string> lastConversationRole;
    bool endsWithSidechainActivity = false;
    bool sidechainHasPendingToolUse = false;
    bool sidechainHasOpenTurn = false;
    std::map<std::string, Date> settledBackgroundTasks; // task id -> when it was reported finished or stopped
    bool tailSawInterrupt = false;
    std::optional<Date> scheduledWakeupAt;
    std::vector<ClaudeSubagent> pendingSubagents; // in launch order
    std::optional<std::string> backgroundTaskSummary;
    std::map<std::string, Date> pendingBackgroundTasks; // task or agent id -> launch time
    std::set<std::string> localProcessTaskIDs;          // pending ids that are local processes
    bool hasPendingUserChoice = false;
    bool isBlockedByApiError = false;

    bool operator==(const ClaudeTranscriptState&) const = default;
};

} // namespace brindleaf
