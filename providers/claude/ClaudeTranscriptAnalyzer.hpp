#pragma once

#include "core/Date.hpp"
#include "core/FileSnapshotCache.hpp"
#include "core/SessionRuntimeProfile.hpp"
#include "providers/claude/ClaudeTranscriptState.hpp"

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Reads the end of a Claude Code transcript (JSON Lines) and condenses it into
// a ClaudeTranscriptState. Never writes to the transcript; never fails.
//
// The static accessors look into one parsed record (a JSON object) or its
// content tolerantly: a missing or mistyped key is absent, never an error.
// Texts they return point into the parser's memory.
class ClaudeTranscriptAnalyzer {
public:
    static constexpr uint64_t defaultMaxBytes = 131072;
    static constexpr uint64_t deepMaxBytes = 8388608;
    static constexpr std::ptrdiff_t cacheCapacity = 256;

    enum class UserTextKind { localCommandCaveat, commandName, localCommandOutput, plainText };

    using Element = simdjson::dom::element;
    using Object = simdjson::dom::object;
    using Content = std::optional<Element>;

    ClaudeTranscriptAnalyzer();
    ClaudeTranscriptAnalyzer(const ClaudeTranscriptAnalyzer&) = delete;
    ClaudeTranscriptAnalyzer& operator=(const ClaudeTranscriptAnalyzer&) = delete;

    uint64_t maxBytes() const { return maxBytes_; }
    // Transcript states keyed by path and variant (empty for the regular tail,
    // "8388608" for the deep pass), valid while size and modification time hold.
    FileSnapshotCache<ClaudeTranscriptState>& cache() { return cache_; }

    // The state of the transcript at `path` from its last `maxBytes` bytes
    // (131072 when absent).
    ClaudeTranscriptState parse(const std::string& path, std::optional<uint64_t> maxBytes = std::nullopt) const;

    // The state described by `tail` (the end of a transcript), for a file last
    // modified at `modifiedAt`.
    static ClaudeTranscriptState analyzeTail(std::string_view tail, std::optional<Date> modifiedAt);

    // ISO 8601 internet date-time, with or without fractional seconds.
    static std::optional<Date> parseTimestamp(std::string_view text);

    // The bytes from max(0, size - limit) to the end of the file (limit 131072
    // when absent), or nothing when the file cannot be read.
    static std::optional<std::string> readTail(const std::string& path, std::optional<uint64_t> limit = std::nullopt);

    // Record accessors.
    static std::optional<std::string_view> messageRole(Object record);
    static std::optional<std::string_view> eventRole(Object record);
    static Content messageContent(Object record);

    // Content accessors.
    static std::vector<Object> contentBlocks(Content content);
    static std::optional<std::string_view> firstText(Content content);
    static std::string joinedText(Content content);
    static bool hasToolResult(Content content);
    static UserTextKind userTextKind(Content content);
    static bool containsInterruptMarker(Content content);
    static std::optional<double> scheduledWakeupDelay(Content content);
    static std::vector<std::string> settledTaskNotificationIDs(Content content);

    // Ids in a tool result's text.
    static std::optional<std::string> backgroundTaskID(std::string_view text);
    static std::optional<std::string> asyncAgentID(std::string_view text);
    static std::optional<std::string> monitorTaskID(std::string_view text);

    // Tool inputs: the summary of a background "Bash" launch, the profile of a "Task"/"Agent" call.
    static std::optional<std::string> backgroundLaunchDescription(Object input);
    static std::optional<SessionRuntimeProfile> runtimeProfile(Object input);

    // The longest a scheduled wakeup may lie ahead; a larger delay is not believed.
    static constexpr double maxWakeupDelaySeconds = 366.0 * 86400.0;
    // How deep containsInterruptMarker looks into nested content.
    static constexpr int maxInterruptMarkerDepth = 8;

private:
    static ClaudeTranscriptState readAndAnalyze(const std::string& path, uint64_t maxBytes,
                                                std::optional<Date> modifiedAt, uint64_t knownSize);

    const uint64_t maxBytes_;
    mutable FileSnapshotCache<ClaudeTranscriptState> cache_;
};

// A profile from a model and an effort; absent when both are absent or empty.
std::optional<SessionRuntimeProfile> makeRuntimeProfile(std::optional<std::string_view> model,
                                                        std::optional<std::string_view> effort,
                                                        SessionRuntimeProfileSource source);

} // namespace brindleaf
