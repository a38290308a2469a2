#pragma once

#include "core/AgentSession.hpp"
#include "core/Date.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindleaf {

// Which desktop notifications the committed snapshots call for, and their
// words. A plain value without Qt or a lock of its own; its owner feeds it
// one committed snapshot after the other.
//
// - The first snapshot is the baseline: nothing there at start is announced.
// - A session that starts needing the user (it turns waiting, or appears
//   waiting) gets one notification; the sessions that start waiting in one
//   refresh share one. A wait that goes on, or that turns working for a
//   single refresh and waits again, is the same wait.
// - A wait that ends closes its notification (a shared one once none of its
//   sessions waits any more); a session gone from the snapshot ends its wait.
// - A session that leaves the snapshot after working for at least
//   `finishedRunMinimum` seconds gets one "finished" notification. The run
//   counts from the earlier of its last activity when first seen working
//   and the time it was seen (so from the agent's own file times), or from
//   the refresh that found its wait answered.
// - A session's next notification takes the place of its last, unless that
//   one still stands for other sessions' waits.
// - A session the user looks at (`inView`) gets no notification for its new
//   wait, nor later for the same wait, nor for the end of its run.
// - Sessions of an agent whose scan read nothing or timed out are kept as
//   they were: their absence says nothing.
class SessionNotificationRules {
public:
    static constexpr double finishedRunMinimum = 30;

    struct Options {
        bool whenWaiting = true;
        bool whenFinished = true;
    };

    enum class Kind { needsYou, finished };

    // One notification to show. Handles are this object's own numbers.
    struct Notice {
        std::uint64_t handle = 0;
        // The handle of the notification this one takes the place of.
        std::optional<std::uint64_t> replaces;
        Kind kind = Kind::needsYou;
        std::string summary;
        std::string body;
        // The sessions it speaks of: one, or several when shared.
        std::vector<AgentSession> sessions;

        bool isGrouped() const { return sessions.size() > 1; }
    };

    struct Plan {
        std::vector<Notice> show;
        std::vector<std::uint64_t> close;

        bool isEmpty() const { return show.empty() && close.empty(); }
    };

    // Whether the user looks at the session now; asked only for a new wait
    // or a finished run.
    using InView = std::function<bool(const AgentSession&)>;

    // One committed snapshot's shown sessions, checked at `now`, with the
    // agents (display names) whose scan read nothing or timed out.
    Plan step(const std::vector<AgentSession>& sessions, const std::set<std::string>& unreadAgents, Date now,
              const Options& options, const InView& inView);

    // "Claude Code needs you", "Claude Code finished", "3 sessions need you".
    static std::string needsYouSummary(const std::string& agent);
    static std::string finishedSummary(const std::string& agent);
    static std::string groupSummary(std::size_t count);
    // The session's title; its project folder's name and what it waits for
    // on the next line ("shop · Claude Code waits for a permission prompt").
    static std::string needsYouBody(const AgentSession& session);
    // The titles, a line each.
    static std::string groupBody(const std::vector<AgentSession>& sessions);
    // The session's title (its folder's name without one).
    static std::string finishedBody(const AgentSession& session);
    // The last component of a working directory ("" for none).
    static std::string folderName(const std::string& cwd);

private:
    struct Tracked {
        AgentSession session;
        bool waiting = false;
        // Was waiting until the last refresh: one more refresh decides
        // whether the wait ended or flickers.
        bool waitEnding = false;
        Date runStartedAt = 0;
        std::optional<std::uint64_t> waitNotice;
    };

    static std::string keyOf(const AgentSession& session);
    static Date runStart(const AgentSession& session, Date now);
    void endWait(const std::string& key, Tracked& tracked, Plan& plan);
    // The session's last notification when it may be replaced.
    std::optional<std::uint64_t> replaceable(const std::vector<std::string>& keys) const;
    Notice makeNotice(Kind kind, std::vector<std::string> keys, std::vector<AgentSession> sessions);

    bool baselineTaken_ = false;
    std::map<std::string, Tracked> tracked_;
    // The open wait notifications and the sessions still waiting behind each.
    std::map<std::uint64_t, std::set<std::string>> openWaits_;
    std::map<std::string, std::uint64_t> lastNotice_;
    std::uint64_t nextHandle_ = 1;
};

} // namespace brindleaf
