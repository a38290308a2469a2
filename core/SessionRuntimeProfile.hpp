#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

enum class SessionRuntimeProfileSource {
    codexThreadStore,
    codexOfficialStatus,
    claudeTranscript,
    claudeTaskRequest,
    hermesSessionStore,
    hermesOfficialStatus,
};

std::string_view toString(SessionRuntimeProfileSource source);
std::optional<SessionRuntimeProfileSource> sessionRuntimeProfileSourceFromString(std::string_view raw);

// A session's model and reasoning effort, and where they were read.
struct SessionRuntimeProfile {
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    SessionRuntimeProfileSource source = SessionRuntimeProfileSource::claudeTranscript;

    SessionRuntimeProfile() = default;
    // Empty texts are stored as absent.
    SessionRuntimeProfile(std::optional<std::string> model, std::optional<std::string> reasoningEffort,
                          SessionRuntimeProfileSource source);

    bool isEmpty() const { return !model && !reasoningEffort; }
    bool operator==(const SessionRuntimeProfile&) const = default;
};

} // namespace brindleaf
