#include "sync/SyncSignature.hpp"

namespace brindleaf {

namespace {

void appendPart(std::string& line, const std::string& part) {
    line += '|';
    line += part;
}

void appendPart(std::string& line, const std::optional<std::string>& part) {
    line += '|';
    if (part) line += *part;
}

} // namespace

std::string syncSignature(const StatusPayload& payload) {
    std::string out;
    out += toString(payload.state);
    appendPart(out, std::to_string(payload.activeCount));
    appendPart(out, std::to_string(payload.staleCount));
    for (const auto& provider : payload.providers) {
        out += "\nprovider";
        appendPart(out, provider.providerID);
        appendPart(out, std::string(toString(provider.state)));
        appendPart(out, std::to_string(provider.activeCount));
        appendPart(out, std::to_string(provider.ignoredStaleSessions));
        appendPart(out, std::to_string(provider.errorCount));
    }
    for (const auto& session : payload.sessions) {
        out += "\nsession";
        appendPart(out, session.id);
        appendPart(out, session.title);
        appendPart(out, std::string(session.needsUserAttention ? "true" : "false"));
        appendPart(out, std::string(toString(session.evidenceStrength)));
        appendPart(out, session.model);
        appendPart(out, session.reasoningEffort);
        appendPart(out, session.agentNickname);
        appendPart(out, session.agentRole);
        appendPart(out, session.parentTitle);
        appendPart(out, session.workspaceLabel);
        appendPart(out, session.backgroundTaskSummary);
    }
    return out;
}

} // namespace brindleaf
