#include "providers/codex/CodexCandidate.hpp"

#include "providers/codex/CodexText.hpp"

#include <algorithm>
#include <tuple>

namespace brindleaf {

namespace {

template <typename T>
std::optional<T> firstPresent(const std::optional<T>& a, const std::optional<T>& b) {
    return a ? a : b;
}

} // namespace

std::pair<std::string, int64_t> CodexCandidate::betterTitle(const CodexCandidate& earlier,
                                                            const CodexCandidate& later) {
    if (earlier.titleScore != later.titleScore) {
        const CodexCandidate& winner = earlier.titleScore > later.titleScore ? earlier : later;
        return {winner.title, winner.titleScore};
    }
    return {earlier.title.empty() ? later.title : earlier.title, earlier.titleScore};
}

CodexCandidate CodexCandidate::merged(const CodexCandidate& n) const {
    CodexCandidate m;
    m.id = id;
    m.parentID = firstPresent(parentID, n.parentID);
    m.agentNickname = firstPresent(agentNickname, n.agentNickname);
    m.agentRole = firstPresent(agentRole, n.agentRole);
    m.parentTitle = firstPresent(parentTitle, n.parentTitle);
    m.parentAgentNickname = firstPresent(parentAgentNickname, n.parentAgentNickname);
    m.parentAgentRole = firstPresent(parentAgentRole, n.parentAgentRole);
    m.threadSource = firstPresent(threadSource, n.threadSource);
    std::tie(m.title, m.titleScore) = betterTitle(*this, n);
    m.cwd = cwd.empty() ? n.cwd : cwd;
    m.rolloutPath = firstPresent(rolloutPath, n.rolloutPath);
    m.updatedAt = codex::latestDate(updatedAt, n.updatedAt);
    if (updatedAtSeconds && n.updatedAtSeconds) {
        m.updatedAtSeconds = std::max(*updatedAtSeconds, *n.updatedAtSeconds);
    } else {
        m.updatedAtSeconds = firstPresent(updatedAtSeconds, n.updatedAtSeconds);
    }
    m.runtimeProfile = firstPresent(runtimeProfile, n.runtimeProfile);
    m.parentRuntimeProfile = firstPresent(parentRuntimeProfile, n.parentRuntimeProfile);
    m.sources = sources;
    m.sources.insert(n.sources.begin(), n.sources.end());
    m.officialNeedsUserAttention = officialNeedsUserAttention || n.officialNeedsUserAttention;
    m.liveState = firstPresent(liveState, n.liveState);
    m.liveWait = liveState ? liveWait : n.liveWait;
    return m;
}

namespace codex {

std::optional<Date> latestDate(std::optional<Date> a, std::optional<Date> b) {
    if (a && b) return std::max(*a, *b);
    return a ? a : b;
}

std::optional<SessionRuntimeProfile> codexRuntimeProfile(std::optional<std::string_view> model,
                                                         std::optional<std::string_view> reasoningEffort,
                                                         SessionRuntimeProfileSource source) {
    std::optional<std::string> m;
    std::optional<std::string> r;
    if (model && !model->empty()) m = std::string(*model);
    if (reasoningEffort && !reasoningEffort->empty()) r = std::string(*reasoningEffort);
    if (!m && !r) return std::nullopt;
    return SessionRuntimeProfile(std::move(m), std::move(r), source);
}

std::optional<Date> threadRowDate(std::optional<std::string_view> seconds,
                                  std::optional<std::string_view> milliseconds) {
    if (milliseconds) {
        if (auto ms = parseDecimalNumber(*milliseconds); ms && *ms > 0) {
            if (auto date = plausibleDate(*ms / 1000.0)) return date;
        }
    }
    if (seconds) {
        if (auto s = parseDecimalNumber(*seconds); s && *s > 0) return plausibleDate(*s);
    }
    return std::nullopt;
}

} // namespace codex

} // namespace brindleaf
