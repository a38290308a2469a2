#include "core/RunEvidence.hpp"

#include <algorithm>
#include <cctype>

namespace brindleaf {

namespace {

constexpr double weakLeaseSeconds = 20;

std::string lowercased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool contains(const std::string& haystack, std::string_view needle) {
    return haystack.find(needle) != std::string::npos;
}

RunEvidence scanItem(const std::string& provider, std::string_view source, RunEvidenceStrength strength,
                     Date checkedAt, std::string reason) {
    return RunEvidence{provider, std::string(RunEvidence::providerScanSessionID), std::string(source), strength,
                       checkedAt, std::nullopt, std::move(reason), std::nullopt};
}

} // namespace

std::vector<RunEvidence> RunEvidence::derive(const std::string& provider, AgentRunState state,
                                             const std::optional<std::string>& statusEvidence,
                                             const std::vector<AgentSession>& sessions, Date checkedAt,
                                             const std::vector<std::string>& errors) {
    std::vector<RunEvidence> items;
    items.reserve(sessions.size() + errors.size() + 1);
    for (const auto& session : sessions) {
        RunEvidence item;
        item.provider = provider;
        item.sessionID = session.id;
        item.observedAt = session.lastActivityAt.value_or(checkedAt);
        const std::string lower = lowercased(session.evidence);
        if (contains(lower, "recent") || contains(lower, "runtime log") || contains(lower, "open spawn edge")) {
            item.strength = RunEvidenceStrength::weakRecent;
            item.expiresAt = item.observedAt + weakLeaseSeconds;
        } else {
            item.strength = RunEvidenceStrength::strongActive;
        }
        item.source = sourceName(session.evidence);
        item.reason = session.evidence;
        item.session = session;
        items.push_back(std::move(item));
    }
    const bool hasEvidenceText = statusEvidence && !statusEvidence->empty();
    if (sessions.empty() && state == AgentRunState::complete && errors.empty()) {
        items.push_back(scanItem(provider, "provider_scan", RunEvidenceStrength::strongComplete, checkedAt,
                                 hasEvidenceText ? *statusEvidence : "provider scan found no active sessions"));
    }
    for (const auto& error : errors) {
        items.push_back(scanItem(provider, "provider_health", RunEvidenceStrength::healthOnly, checkedAt, error));
    }
    if (sessions.empty() && state == AgentRunState::unknown && errors.empty()) {
        items.push_back(scanItem(provider, "provider_health", RunEvidenceStrength::healthOnly, checkedAt,
                                 hasEvidenceText ? *statusEvidence : "provider state unknown"));
    }
    return items;
}

std::string RunEvidence::sourceName(std::string_view evidence) {
    const std::string lower = lowercased(evidence);
    if (contains(lower, "official")) return "official";
    if (contains(lower, "pending tool")) return "rollout_pending_tool";
    if (contains(lower, "runtime log")) return "runtime_log";
    if (contains(lower, "open spawn edge")) return "open_spawn_edge";
    if (contains(lower, "recent")) return "recent_activity";
    return "provider_snapshot";
}

} // namespace brindleaf
