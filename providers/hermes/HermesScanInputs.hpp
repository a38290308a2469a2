#pragma once

// The shared, read-only inputs of a Hermes scan. Each is built once from its
// source (the session query, the agent log, the process list) and reused by
// every scan while that source is unchanged, so a scan in which nothing
// changed copies and re-derives nothing.
#include "providers/hermes/HermesStatusProvider.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// The rows of one session query, with what the scans derive from them.
struct HermesStatusProvider::CandidateSet {
    explicit CandidateSet(std::vector<HermesSessionCandidate> rows);
    CandidateSet(const CandidateSet&) = delete;
    CandidateSet& operator=(const CandidateSet&) = delete;

    std::size_t indexOf(const HermesSessionCandidate& candidate) const {
        return static_cast<std::size_t>(&candidate - candidates.data());
    }

    const std::vector<HermesSessionCandidate> candidates;
    CandidatesByID byID;                                   // the first row of each id
    std::vector<std::optional<std::string>> terminalTexts; // per row: its terminal command, trimmed, when long enough
    std::vector<std::string> titles;                       // per row: the shown title
    std::vector<std::optional<std::string>> parentTitles;  // per row: the shown parent title
    std::vector<const HermesSessionCandidate*> openNewestFirst; // rows without an end, latest activity first
};

// The newest signal per session of one state of the agent log.
struct HermesStatusProvider::SignalIndex {
    explicit SignalIndex(std::vector<HermesRuntimeSignal> list);
    SignalIndex(const SignalIndex&) = delete;
    SignalIndex& operator=(const SignalIndex&) = delete;

    const HermesRuntimeSignal* find(std::string_view sessionID) const {
        auto found = byID.find(sessionID);
        return found == byID.end() ? nullptr : found->second;
    }

    const std::vector<HermesRuntimeSignal> signals;
    std::unordered_map<std::string_view, const HermesRuntimeSignal*> byID; // into `signals`
};

// The terminal workers of one process list and listing.
struct HermesStatusProvider::WorkerIndex {
    std::vector<HermesLiveWorker> workers;
    std::set<std::string> liveKeys;
    std::string cacheKey; // the live keys joined by ","
    WorkersByKey byKey;
};

// The resource usage of each candidate, worked out once for one candidate set,
// one worker index and one indexed process list; the scans in between ask again.
struct HermesStatusProvider::UsageMemo {
    static constexpr std::size_t maximumChildEntries = 4096;

    // Forgets everything unless the inputs are those of the remembered answers.
    void prepare(const std::shared_ptr<const CandidateSet>& set, const std::shared_ptr<const WorkerIndex>& index,
                 uint64_t tableGeneration) {
        if (candidates == set && workers == index && processTable == tableGeneration) return;
        candidates = set;
        workers = index;
        processTable = tableGeneration;
        withoutChild.assign(set->candidates.size(), std::nullopt);
        withChild.clear();
    }

    std::shared_ptr<const CandidateSet> candidates;
    std::shared_ptr<const WorkerIndex> workers;
    uint64_t processTable = 0;
    std::vector<std::optional<std::optional<SessionResourceUsage>>> withoutChild; // per candidate row
    std::map<std::pair<std::size_t, int64_t>, std::optional<SessionResourceUsage>> withChild; // row, child pid
};

// The ids already seen on a walk up a parent chain. Chains are short: the
// first few ids live on the stack and are searched linearly.
class HermesChainVisits {
public:
    bool contains(std::string_view id) const {
        if (std::find(inline_.begin(), inline_.begin() + static_cast<std::ptrdiff_t>(inlineCount_), id) !=
            inline_.begin() + static_cast<std::ptrdiff_t>(inlineCount_))
            return true;
        return std::find(overflow_.begin(), overflow_.end(), id) != overflow_.end();
    }
    void add(std::string_view id) {
        if (inlineCount_ < inline_.size()) {
            inline_[inlineCount_++] = id;
        } else {
            overflow_.push_back(id);
        }
    }

private:
    std::array<std::string_view, 8> inline_{};
    std::size_t inlineCount_ = 0;
    std::vector<std::string_view> overflow_;
};

} // namespace brindleaf
