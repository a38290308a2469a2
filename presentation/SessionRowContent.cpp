#include "presentation/SessionRowContent.hpp"

#include "presentation/SessionActivityText.hpp"
#include "presentation/StatusFormatting.hpp"
#include "presentation/WorkspacePathDisplay.hpp"

namespace brindleaf {

namespace {

constexpr std::string_view reviewPreamble = "The following is the Codex agent history";

} // namespace

std::string SessionRowContent::titleOf(const AgentSession& session) {
    if (session.title.empty()) return session.id;
    if (session.title.starts_with(reviewPreamble)) return "Codex review session";
    return session.title;
}

std::optional<std::string> SessionRowContent::parentText(const AgentSession& session) {
    const std::optional<std::string>& name =
        session.parentAgentNickname ? session.parentAgentNickname : session.parentTitle;
    if (!name || name->empty()) return std::nullopt;
    return "\u201C" + *name + "\u201D";
}

std::string SessionRowContent::folderName(const std::string& cwd) {
    std::string name = WorkspacePathDisplay::parts(cwd).name;
    return name.empty() ? cwd : name;
}

std::string SessionRowContent::diagnosticBlock(const AgentSession& session) {
    std::string block = "Title: " + titleOf(session);
    auto line = [&block](std::string_view label, const std::string& value) {
        block += '\n';
        block += label;
        block += value;
    };
    line("Agent: ", session.provider);
    line("Session ID: ", session.id);
    line("Evidence: ", session.evidence);
    if (session.parentID) line("Parent ID: ", *session.parentID);
    if (session.threadSource) line("Source: ", *session.threadSource);
    if (session.agentNickname) line("Agent name: ", *session.agentNickname);
    if (session.agentRole) line("Agent role: ", *session.agentRole);
    if (!session.cwd.empty()) line("Path: ", session.cwd);
    if (session.resourceUsage) line("PID: ", std::to_string(session.resourceUsage->pid));
    return block;
}

std::string SessionRowContent::statusLabel(bool needsUserAttention) {
    return needsUserAttention ? "Waiting for your choice" : "Working";
}

SessionRowContent SessionRowContent::make(const AgentSession& session, Date now) {
    SessionRowContent content;
    content.id = session.id;
    content.displayTitle = titleOf(session);
    content.provider = session.provider;
    content.needsUserAttention = session.needsUserAttention;
    content.activity = SessionActivityText::text(session.evidence, session.needsUserAttention);
    if (session.lastActivityAt) {
        const std::string when = StatusFormatting::relativeTime(*session.lastActivityAt, now);
        if (!when.empty()) content.activity += " \u00B7 " + when;
    }

    std::optional<std::string> model, effort;
    if (session.runtimeProfile) {
        model = session.runtimeProfile->model;
        effort = session.runtimeProfile->reasoningEffort;
    }
    if (auto text = StatusFormatting::modelEffort(model, effort))
        content.details.push_back({DetailKind::model, "cpu", *text, {}, false});
    if (!session.cwd.empty())
        content.details.push_back({DetailKind::folder, "folder", folderName(session.cwd), session.cwd, false});
    if (auto parent = parentText(session))
        content.details.push_back({DetailKind::parent, "arrow.turn.down.right", "Subagent of " + *parent, {}, false});
    if (session.backgroundTaskSummary && !session.backgroundTaskSummary->empty())
        content.details.push_back(
            {DetailKind::background, "terminal", "Background: " + *session.backgroundTaskSummary, {}, false});
    if (session.resourceUsage) {
        const auto& usage = *session.resourceUsage;
        if (auto line = StatusFormatting::resourceLine(usage.cpuPercent, usage.residentMemoryBytes, usage.processCount))
            content.details.push_back({DetailKind::resources, "gauge.with.dots.needle.33percent", *line, {}, true});
    }

    if (session.resourceUsage) content.processID = session.resourceUsage->pid;
    content.menu.push_back({"Copy Title", content.displayTitle, false});
    content.menu.push_back({"Copy Session ID", session.id, false});
    if (!session.cwd.empty()) content.menu.push_back({"Copy Project Path", session.cwd, false});
    if (session.resourceUsage)
        content.menu.push_back({"Copy Process ID", std::to_string(session.resourceUsage->pid), false});
    content.menu.push_back({"Copy Diagnostic Details", diagnosticBlock(session), true});
    return content;
}

} // namespace brindleaf
