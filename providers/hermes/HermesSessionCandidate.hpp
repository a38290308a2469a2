#pragma once

#include "core/Date.hpp"
#include "core/SQLiteReader.hpp"
#include "core/SessionRuntimeProfile.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// One row of the session query against Hermes's "state.db".
struct HermesSessionCandidate {
    std::string id;
    std::optional<std::string> source;
    std::optional<std::string> parentID;
    std::optional<std::string> parentTitle;
    std::optional<std::string> title;
    std::optional<std::string> cwd;
    std::optional<SessionRuntimeProfile> runtimeProfile;
    std::optional<Date> startedAt;
    std::optional<Date> endedAt;
    std::optional<std::string> endReason;
    int64_t messageCount = 0;
    std::optional<std::string> handoffState;
    std::optional<std::string> handoffPlatform;
    std::optional<Date> lastActivityAt;
    std::optional<std::string> lastRole;
    std::optional<std::string> lastFinishReason;
    std::optional<std::string> lastToolName;
    std::optional<std::string> lastTerminalToolCalls;

    bool operator==(const HermesSessionCandidate&) const = default;

    // Decodes one result row (every value as text, NULL as empty text).
    // Absent when the row has no id.
    static std::optional<HermesSessionCandidate> fromRow(const SQLiteReader::Row& row);

    // The model and reasoning effort of a row's "model" and "model_config" texts.
    static std::optional<SessionRuntimeProfile> runtimeProfileFrom(const std::string& model,
                                                                   const std::string& modelConfig);
};

} // namespace brindleaf
