#include "core/SessionRuntimeProfile.hpp"

#include <utility>

namespace brindleaf {

namespace {
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) return std::nullopt;
    return text;
}
} // namespace

SessionRuntimeProfile::SessionRuntimeProfile(std::optional<std::string> model,
                                             std::optional<std::string> reasoningEffort,
                                             SessionRuntimeProfileSource source)
    : model(nonEmpty(std::move(model))), reasoningEffort(nonEmpty(std::move(reasoningEffort))), source(source) {}

std::string_view toString(SessionRuntimeProfileSource source) {
    switch (source) {
    case SessionRuntimeProfileSource::codexThreadStore: return "codexThreadStore";
    case SessionRuntimeProfileSource::codexOfficialStatus: return "codexOfficialStatus";
    case SessionRuntimeProfileSource::claudeTranscript: return "claudeTranscript";
    case SessionRuntimeProfileSource::claudeTaskRequest: return "claudeTaskRequest";
    case SessionRuntimeProfileSource::hermesSessionStore: return "hermesSessionStore";
    case SessionRuntimeProfileSource::hermesOfficialStatus: return "hermesOfficialStatus";
    }
    return "claudeTranscript";
}

std::optional<SessionRuntimeProfileSource> sessionRuntimeProfileSourceFromString(std::string_view raw) {
    if (raw == "codexThreadStore") return SessionRuntimeProfileSource::codexThreadStore;
    if (raw == "codexOfficialStatus") return SessionRuntimeProfileSource::codexOfficialStatus;
    if (raw == "claudeTranscript") return SessionRuntimeProfileSource::claudeTranscript;
    if (raw == "claudeTaskRequest") return SessionRuntimeProfileSource::claudeTaskRequest;
    if (raw == "hermesSessionStore") return SessionRuntimeProfileSource::hermesSessionStore;
    if (raw == "hermesOfficialStatus") return SessionRuntimeProfileSource::hermesOfficialStatus;
    return std::nullopt;
}

} // namespace brindleaf
