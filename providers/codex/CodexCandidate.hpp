#pragma once

#include "core/Date.hpp"
#include "core/SessionRuntimeProfile.hpp"
#include "providers/codex/CodexOfficialThreadStatus.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace brindleaf {

// One Codex thread as one source saw it, before the decision.
//
// Title scores: 6 an app-server title; 5 a session-index name; 4 a thread-store
// title or the internal review name; 3 a thread-store preview; 2 a name derived
// from an identifier or sub-agent data; 1 a raw title that failed the quality
// tests; 0 the thread id itself.
//
// Source tags: "official_app_server_" + active/idle/system_error/not_loaded,
// "runtime_log", "open_spawn_edge", "closed_spawn_edge", "recent_thread", "unknown".
struct CodexCandidate {
    std::string id;
    std::optional<std::string> parentID;
    std::optional<std::string> agentNickname;
    std::optional<std::string> agentRole;
    std::optional<std::string> parentTitle;
    std::optional<std::string> parentAgentNickname;
    std::optional<std::string> parentAgentRole;
    std::optional<std::string> threadSource;
    std::string title;
    int64_t titleScore = 0;
    std::string cwd;
    std::optional<std::string> rolloutPath;
    std::optional<Date> updatedAt;
    std::optional<int64_t> updatedAtSeconds;
    std::optional<SessionRuntimeProfile> runtimeProfile;
    std::optional<SessionRuntimeProfile> parentRuntimeProfile;
    std::set<std::string> sources;
    bool officialNeedsUserAttention = false;
    // The Codex daemon's active or idle state and wait, when it reported one
    // (such a status gives no "official_app_server_" tag: its rules differ).
    std::optional<CodexOfficialThreadRunState> liveState;
    CodexThreadWait liveWait = CodexThreadWait::none;

    bool operator==(const CodexCandidate&) const = default;

    bool hasSource(std::string_view tag) const {
        // A handful of tags at most: a walk is cheaper than building a key.
        for (const auto& source : sources)
            if (source == tag) return true;
        return false;
    }

    // This (earlier) candidate with a later one of the same id folded in.
    CodexCandidate merged(const CodexCandidate& later) const;

    // The title and score that win when `earlier` and `later` are merged.
    static std::pair<std::string, int64_t> betterTitle(const CodexCandidate& earlier, const CodexCandidate& later);
};

namespace codex {

// Both absent: absent; one present: it; both: the later.
std::optional<Date> latestDate(std::optional<Date> a, std::optional<Date> b);

// A profile of the non-empty texts; absent when both are absent or empty.
std::optional<SessionRuntimeProfile> codexRuntimeProfile(std::optional<std::string_view> model,
                                                         std::optional<std::string_view> reasoningEffort,
                                                         SessionRuntimeProfileSource source);

// A thread row's date: the milliseconds when they read as a number above 0,
// else the seconds when above 0, else absent.
std::optional<Date> threadRowDate(std::optional<std::string_view> seconds,
                                  std::optional<std::string_view> milliseconds);

} // namespace codex

} // namespace brindleaf
