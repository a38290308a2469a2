#include "core/RunEvidence.hpp"

#include <string>
#include <utility>

namespace brindleaf {

namespace {

constexpr char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive substring test; `needle` is lower-case ASCII. Only ASCII
// letters change under lower-casing for the texts looked for, so comparing
// byte by byte is the same as lower-casing the whole sentence first.
bool containsFolded(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) return false;
    const size_t last = haystack.size() - needle.size();
    for (size_t i = 0; i <= last; ++i) {
        if (asciiLower(haystack[i]) != needle[0]) continue;
        size_t j = 1;
        while (j < needle.size() && asciiLower(haystack[i + j]) == needle[j]) ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

RunEvidence scanItem(const std::string& provider, std::string_view source, RunEvidenceStrength strength,
                     Date checkedAt, std::string reason) {
    return RunEvidence{provider, std::string(RunEvidence::providerScanSessionID), std::string(source), strength,
                       checkedAt, std::nullopt, std::move(reason), std::nullopt};
}

// What a session's evidence sentence makes of it: weak or strong, and the
// source it names.
struct SentenceClass {
    bool weak = false;
    std::string source;
};

// Providers repeat a handful of short sentences on every refresh, so the last
// few classifications are remembered per thread (a fixed number of entries,
// replaced in turn; long sentences are never kept).
const SentenceClass& classifySentence(std::string_view sentence) {
    struct Entry {
        std::string sentence;
        SentenceClass result;
        bool used = false;
    };
    constexpr size_t capacity = 8;
    constexpr size_t longestKept = 256;
    thread_local Entry entries[capacity];
    thread_local size_t nextSlot = 0;
    thread_local SentenceClass uncached;
    for (const Entry& entry : entries)
        if (entry.used && entry.sentence == sentence) return entry.result;
    SentenceClass* target = &uncached;
    if (sentence.size() <= longestKept) {
        Entry& slot = entries[nextSlot];
        nextSlot = (nextSlot + 1) % capacity;
        slot.used = false;
        slot.sentence.assign(sentence);
        slot.used = true;
        target = &slot.result;
    }
    target->weak = RunEvidence::isWeakSentence(sentence);
    target->source = RunEvidence::sourceName(sentence);
    return *target;
}

} // namespace

bool RunEvidence::isWeakSentence(std::string_view evidence) {
    return containsFolded(evidence, "recent") || containsFolded(evidence, "runtime log") ||
           containsFolded(evidence, "open spawn edge");
}

std::vector<RunEvidence> RunEvidence::derive(const std::string& provider, AgentRunState state,
                                             const std::optional<std::string>& statusEvidence,
                                             const std::vector<AgentSession>& sessions, Date checkedAt,
                                             const std::vector<std::string>& errors) {
    std::vector<RunEvidence> items;
    items.reserve(sessions.size() + errors.size() + 1);
    for (const auto& session : sessions) {
        RunEvidence& item = items.emplace_back();
        item.provider = provider;
        item.sessionID = session.id;
        item.observedAt = session.lastActivityAt.value_or(checkedAt);
        const SentenceClass& sentence = classifySentence(session.evidence);
        if (sentence.weak) {
            item.strength = RunEvidenceStrength::weakRecent;
            item.expiresAt = item.observedAt + weakRecentLeaseInterval;
        } else {
            item.strength = RunEvidenceStrength::strongActive;
        }
        item.source = sentence.source;
        item.reason = session.evidence;
        item.session = session;
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
    if (containsFolded(evidence, "official")) return "official";
    if (containsFolded(evidence, "pending tool")) return "rollout_pending_tool";
    if (containsFolded(evidence, "runtime log")) return "runtime_log";
    if (containsFolded(evidence, "open spawn edge")) return "open_spawn_edge";
    if (containsFolded(evidence, "recent")) return "recent_activity";
    return "provider_snapshot";
}

int RunEvidence::evidenceRank(RunEvidenceStrength strength) {
    switch (strength) {
    case RunEvidenceStrength::healthOnly: return 0;
    case RunEvidenceStrength::weakRecent: return 1;
    case RunEvidenceStrength::strongActive: return 2;
    case RunEvidenceStrength::strongComplete: return 3;
    }
    return 0;
}

bool RunEvidence::precedes(const RunEvidence& a, const RunEvidence& b) {
    if (a.observedAt == b.observedAt) return evidenceRank(a.strength) < evidenceRank(b.strength);
    return a.observedAt < b.observedAt;
}

} // namespace brindleaf
