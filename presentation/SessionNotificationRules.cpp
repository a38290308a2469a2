#include "presentation/SessionNotificationRules.hpp"

#include <algorithm>
#include <utility>

namespace brindleaf {

std::string SessionNotificationRules::keyOf(const AgentSession& session) {
    return session.provider + '\n' + session.id;
}

Date SessionNotificationRules::runStart(const AgentSession& session, Date now) {
    return session.lastActivityAt ? std::min(*session.lastActivityAt, now) : now;
}

SessionNotificationRules::Plan SessionNotificationRules::step(const std::vector<AgentSession>& sessions,
                                                              const std::set<std::string>& unreadAgents, Date now,
                                                              const Options& options, const InView& inView) {
    Plan plan;
    std::map<std::string, Tracked> next;
    if (!baselineTaken_) {
        baselineTaken_ = true;
        for (const auto& session : sessions)
            next[keyOf(session)] = Tracked{session, session.needsUserAttention, false, runStart(session, now), {}};
        tracked_ = std::move(next);
        return plan;
    }

    std::vector<std::string> newWaits;
    std::vector<std::string> finished;
    for (const auto& session : sessions) {
        const std::string key = keyOf(session);
        auto known = tracked_.find(key);
        if (known == tracked_.end()) {
            next[key] = Tracked{session, session.needsUserAttention, false, runStart(session, now), {}};
            if (session.needsUserAttention) newWaits.push_back(key);
            continue;
        }
        Tracked tracked = std::move(known->second);
        tracked_.erase(known);
        tracked.session = session;
        if (session.needsUserAttention) {
            if (!tracked.waiting && !tracked.waitEnding) newWaits.push_back(key);
            tracked.waiting = true;
            tracked.waitEnding = false;
        } else if (tracked.waiting) {
            tracked.waiting = false;
            tracked.waitEnding = true;
            tracked.runStartedAt = now;
        } else if (tracked.waitEnding) {
            tracked.waitEnding = false;
            endWait(key, tracked, plan);
        }
        next[key] = std::move(tracked);
    }
    // What is left was shown before and is not now.
    for (auto& [key, tracked] : tracked_) {
        if (unreadAgents.contains(tracked.session.provider)) {
            next[key] = std::move(tracked);
        } else if (tracked.waiting || tracked.waitEnding) {
            endWait(key, tracked, plan);
        } else if (now - tracked.runStartedAt >= finishedRunMinimum) {
            next[key] = std::move(tracked); // only until its notice is made below
            finished.push_back(key);
        }
    }
    tracked_ = std::move(next);

    std::vector<std::string> announced;
    for (const auto& key : newWaits) {
        const auto& session = tracked_.at(key).session;
        if (options.whenWaiting && !(inView && inView(session))) announced.push_back(key);
    }
    if (!announced.empty()) {
        std::vector<AgentSession> members;
        for (const auto& key : announced) members.push_back(tracked_.at(key).session);
        Notice notice = makeNotice(Kind::needsYou, announced, std::move(members));
        openWaits_[notice.handle] = {announced.begin(), announced.end()};
        for (const auto& key : announced) tracked_.at(key).waitNotice = notice.handle;
        plan.show.push_back(std::move(notice));
    }
    for (const auto& key : finished) {
        auto session = tracked_.at(key).session;
        tracked_.erase(key);
        if (options.whenFinished && !(inView && inView(session)))
            plan.show.push_back(makeNotice(Kind::finished, {key}, {std::move(session)}));
    }
    return plan;
}

void SessionNotificationRules::endWait(const std::string& key, Tracked& tracked, Plan& plan) {
    if (!tracked.waitNotice) return;
    auto open = openWaits_.find(*tracked.waitNotice);
    tracked.waitNotice.reset();
    if (open == openWaits_.end()) return;
    open->second.erase(key);
    if (!open->second.empty()) return;
    plan.close.push_back(open->first);
    openWaits_.erase(open);
}

std::optional<std::uint64_t> SessionNotificationRules::replaceable(const std::vector<std::string>& keys) const {
    std::set<std::uint64_t> candidates;
    for (const auto& key : keys) {
        auto last = lastNotice_.find(key);
        if (last == lastNotice_.end()) continue;
        auto open = openWaits_.find(last->second);
        const bool heldByOthers =
            open != openWaits_.end() && std::any_of(open->second.begin(), open->second.end(), [&](const auto& other) {
                return std::find(keys.begin(), keys.end(), other) == keys.end();
            });
        if (!heldByOthers) candidates.insert(last->second);
    }
    if (candidates.size() != 1) return std::nullopt;
    return *candidates.begin();
}

SessionNotificationRules::Notice SessionNotificationRules::makeNotice(Kind kind, std::vector<std::string> keys,
                                                                      std::vector<AgentSession> sessions) {
    Notice notice;
    notice.handle = nextHandle_++;
    notice.replaces = replaceable(keys);
    if (notice.replaces) openWaits_.erase(*notice.replaces);
    notice.kind = kind;
    if (kind == Kind::finished) {
        notice.summary = finishedSummary(sessions.front().provider);
        notice.body = finishedBody(sessions.front());
    } else if (sessions.size() == 1) {
        notice.summary = needsYouSummary(sessions.front().provider);
        notice.body = needsYouBody(sessions.front());
    } else {
        notice.summary = groupSummary(sessions.size());
        notice.body = groupBody(sessions);
    }
    notice.sessions = std::move(sessions);
    for (const auto& key : keys) lastNotice_[key] = notice.handle;
    return notice;
}

std::string SessionNotificationRules::needsYouSummary(const std::string& agent) { return agent + " needs you"; }

std::string SessionNotificationRules::finishedSummary(const std::string& agent) { return agent + " finished"; }

std::string SessionNotificationRules::groupSummary(std::size_t count) {
    return std::to_string(count) + " sessions need you";
}

std::string SessionNotificationRules::folderName(const std::string& cwd) {
    std::string path = cwd;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.find_last_of('/');
    if (path == "/") return path;
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SessionNotificationRules::needsYouBody(const AgentSession& session) {
    std::string where = folderName(session.cwd);
    if (!session.evidence.empty()) where += (where.empty() ? "" : " · ") + session.evidence;
    if (session.title.empty()) return where;
    return where.empty() ? session.title : session.title + '\n' + where;
}

std::string SessionNotificationRules::groupBody(const std::vector<AgentSession>& sessions) {
    std::string body;
    for (const auto& session : sessions) {
        if (!body.empty()) body += '\n';
        body += finishedBody(session);
    }
    return body;
}

std::string SessionNotificationRules::finishedBody(const AgentSession& session) {
    if (!session.title.empty()) return session.title;
    const std::string folder = folderName(session.cwd);
    return folder.empty() ? session.provider : folder;
}

} // namespace brindleaf
