#pragma once

#include "core/FileSnapshotCache.hpp"
#include "providers/codex/RolloutTailState.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// A function call of a rollout that still waits for its output.
struct PendingFunctionCall {
    std::string namespaceName;
    std::string name;
    std::string arguments; // exactly as the record carries them, normally JSON in a text

    // The Codex app's own thread tools, which never count as pending.
    bool isCodexAppThreadTool() const;
    bool operator==(const PendingFunctionCall&) const = default;
};

// Reads the last 96 KiB of a Codex rollout file (JSON Lines) and folds its
// records into a RolloutTailState, cached per file while its size and
// modification time are unchanged. Only reads.
class RolloutTailAnalyzer {
public:
    static constexpr uint64_t defaultMaxBytes = 98304;
    static constexpr std::ptrdiff_t defaultCacheCapacity = 128;

    explicit RolloutTailAnalyzer(uint64_t maxBytes = defaultMaxBytes,
                                 std::ptrdiff_t cacheCapacity = defaultCacheCapacity);
    RolloutTailAnalyzer(const RolloutTailAnalyzer&) = delete;
    RolloutTailAnalyzer& operator=(const RolloutTailAnalyzer&) = delete;

    uint64_t maxBytes() const { return maxBytes_; }
    const FileSnapshotCache<RolloutTailState>& cache() const { return cache_; }

    // The state of the rollout at `path`, from the cache while the file is unchanged. Never fails.
    RolloutTailState state(const std::string& path);
    // The same, with `info` the file's current stat (absent: the file cannot be
    // examined, which gives the empty state without touching the file).
    RolloutTailState state(const std::string& path, const std::optional<FileStat::Info>& info);

    // A freshly computed state.
    RolloutTailState readState(const std::string& path) const;

    // The file's last maxBytes() bytes; absent when it is not a readable regular file.
    std::optional<std::string> readTail(const std::string& path) const;

    // Folds the records of a tail (any bytes; invalid UTF-8 is replaced) into a
    // state dated `lastEventAt`.
    static RolloutTailState foldTail(std::string_view bytes, std::optional<Date> lastEventAt);

    // Whether a call's arguments ask for escalated sandbox permissions.
    static bool requestsEscalation(std::string_view arguments);

private:
    const uint64_t maxBytes_;
    FileSnapshotCache<RolloutTailState> cache_;
};

} // namespace brindleaf
