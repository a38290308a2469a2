#include "providers/claude/ClaudeEngineLivenessIndex.hpp"

#include "core/StringPredicateMemo.hpp"
#include "providers/claude/ClaudeTextScan.hpp"

#include <unicode/utf8.h>

#include <algorithm>

namespace brindleaf {

bool isClaudeEngineCommand(std::string_view command) {
    if (claudetext::contains(command, "claude-code")) return true;
    if (command == "claude") return true;
    if (command.substr(0, 7) == "claude ") return true;
    constexpr std::string_view marker = "/claude";
    size_t from = 0;
    while (true) {
        const size_t at = command.find(marker, from);
        if (at == std::string_view::npos) return false;
        const size_t after = at + marker.size();
        if (after == command.size() || command[after] == ' ') return true;
        from = after;
    }
}

namespace {

bool isShellSnapshotCommand(std::string_view command) { return claudetext::contains(command, "shell-snapshots"); }

StringPredicateMemo& engineMemo() {
    static StringPredicateMemo memo([](std::string_view command) {
        return !claudetext::contains(command, "/Helpers/disclaimer") && isClaudeEngineCommand(command);
    });
    return memo;
}

StringPredicateMemo& shellSnapshotMemo() {
    static StringPredicateMemo memo(isShellSnapshotCommand);
    return memo;
}

constexpr int maxShellTaskAncestors = 10;

} // namespace

bool ClaudeEngineLivenessIndex::isEngineProcessCommand(std::string_view command) {
    return engineMemo().evaluate(command);
}

std::string ClaudeEngineLivenessIndex::projectKey(std::string_view path) {
    std::string key;
    key.reserve(path.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(path.data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(path.size(), INT32_MAX));
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            key += static_cast<char>(c);
        } else {
            key += c > 0xFFFF ? "--" : "-";
        }
    }
    return key;
}

std::optional<std::string> ClaudeEngineLivenessIndex::resumeSessionID(std::string_view command) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= command.size()) {
        size_t end = command.find(' ', start);
        if (end == std::string_view::npos) end = command.size();
        if (end > start) pieces.push_back(command.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i] == "--resume" && i + 1 < pieces.size()) {
            if (pieces[i + 1].front() == '-') return std::nullopt;
            return std::string(pieces[i + 1]);
        }
        if (pieces[i].substr(0, 9) == "--resume=") {
            const auto rest = pieces[i].substr(9);
            if (rest.empty()) return std::nullopt;
            return std::string(rest);
        }
    }
    return std::nullopt;
}

ClaudeEngineLivenessIndex ClaudeEngineLivenessIndex::build(const std::vector<ProcessResourceSample>& samples,
                                                           const std::map<int64_t, std::string>& registry) {
    ClaudeEngineLivenessIndex index;
    index.processTree = ProcessTree(samples);
    index.snapshotEmpty = samples.empty();
    for (const auto& sample : samples) {
        if (!isEngineProcessCommand(sample.command)) continue;
        index.sawEngineProcess = true;
        if (sample.cwd && !sample.cwd->empty()) {
            const std::string key = projectKey(*sample.cwd);
            index.engineCwdCounts[key] += 1;
            index.enginePIDsByKey[key].push_back(sample.pid);
        }
        if (auto it = registry.find(sample.pid); it != registry.end()) {
            index.enginePIDBySessionID[it->second] = sample.pid;
        }
        if (auto resumed = resumeSessionID(sample.command)) index.enginePIDBySessionID[*resumed] = sample.pid;
    }
    if (index.snapshotEmpty) return index;
    for (const auto& sample : samples) {
        if (!shellSnapshotMemo().evaluate(sample.command)) continue;
        int64_t ancestor = sample.parentPID;
        for (int step = 0; step < maxShellTaskAncestors; ++step) {
            auto found = index.processTree.byPID.find(ancestor);
            if (found == index.processTree.byPID.end()) break;
            const ProcessResourceSample& process = found->second;
            if (isEngineProcessCommand(process.command)) {
                if (process.cwd && !process.cwd->empty()) {
                    index.cwdsWithShellTaskChildren.insert(projectKey(*process.cwd));
                } else {
                    index.sawUnattributableShellTask = true;
                }
                break;
            }
            ancestor = process.parentPID;
        }
    }
    return index;
}

std::optional<std::string> ClaudeEngineLivenessIndex::resolvedEngineKey(const ClaudeEngineKey& key) const {
    const auto candidates = key.candidateKeys();
    for (const auto& candidate : candidates) {
        if (engineCount(candidate) > 0) return candidate;
    }
    if (candidates.empty()) return std::nullopt;
    return candidates.front();
}

std::optional<bool> ClaudeEngineLivenessIndex::engineGoneVerdict(const std::optional<std::string>& sessionID,
                                                                 const ClaudeEngineKey& key, bool isClaimed) const {
    if (sessionID && enginePIDBySessionID.count(*sessionID)) return false;
    if (snapshotEmpty) return std::nullopt;
    if (sawEngineProcess && engineCwdCounts.empty()) return std::nullopt;
    if (!key.projectDirectory && !key.transcriptCwd) return std::nullopt; // no candidate key
    return !isClaimed;
}

bool ClaudeEngineLivenessIndex::hasEngineInCandidateCwd(const ClaudeEngineKey& key) const {
    return (key.projectDirectory && engineCount(*key.projectDirectory) > 0) ||
           (key.transcriptCwd && engineCount(*key.transcriptCwd) > 0);
}

std::optional<bool> ClaudeEngineLivenessIndex::shellTaskVerdict(const ClaudeEngineKey& key) const {
    if (snapshotEmpty) return std::nullopt;
    const auto candidates = key.candidateKeys();
    if (candidates.empty()) return std::nullopt;
    for (const auto& candidate : candidates) {
        if (cwdsWithShellTaskChildren.count(candidate)) return true;
    }
    if (sawUnattributableShellTask) return std::nullopt;
    return false;
}

std::optional<SessionResourceUsage> ClaudeEngineLivenessIndex::engineResourceUsage(const std::string& sessionID,
                                                                                   const ClaudeEngineKey& key) const {
    int64_t root;
    if (auto it = enginePIDBySessionID.find(sessionID); it != enginePIDBySessionID.end()) {
        root = it->second;
    } else {
        const auto resolved = resolvedEngineKey(key);
        if (!resolved) return std::nullopt;
        auto pids = enginePIDsByKey.find(*resolved);
        if (pids == enginePIDsByKey.end()) return std::nullopt;
        std::vector<int64_t> unclaimed;
        for (int64_t pid : pids->second) {
            const bool claimed = std::any_of(enginePIDBySessionID.begin(), enginePIDBySessionID.end(),
                                             [&](const auto& entry) { return entry.second == pid; });
            if (!claimed) unclaimed.push_back(pid);
        }
        if (unclaimed.size() != 1) return std::nullopt;
        root = unclaimed.front();
    }
    if (!processTree.byPID.count(root)) return std::nullopt;
    return processTree.resourceUsage({root});
}

} // namespace brindleaf
