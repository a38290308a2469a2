#include "presentation/StatusLine.hpp"

#include "presentation/SessionActivityText.hpp"
#include "presentation/SessionRowContent.hpp"
#include "presentation/StatusItemRenderer.hpp"
#include "presentation/StatusWording.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace brindleaf {

namespace {

// Agents' text on one line: every control character a space.
std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
    return text;
}

std::string markupEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string sessionLine(const AgentSession& session) {
    return oneLine(session.provider) + ": " + oneLine(SessionRowContent::titleOf(session)) + " \u2014 " +
           oneLine(SessionActivityText::text(session.evidence, session.needsUserAttention));
}

} // namespace

StatusLine StatusLine::make(const AgentStatusSnapshot& snapshot) {
    const auto& sessions = snapshot.activeSessions;
    const auto running =
        std::count_if(sessions.begin(), sessions.end(), [](const AgentSession& s) { return s.isRunning(); });
    const auto waiting = std::int64_t(sessions.size()) - running;

    StatusLine line;
    switch (StatusWording::mood(snapshot)) {
    case StatusWording::Mood::working:
        line.state = "working";
        break;
    case StatusWording::Mood::waiting:
        line.state = "waiting";
        break;
    case StatusWording::Mood::unavailable:
    case StatusWording::Mood::notUpdated:
        line.state = "unknown";
        break;
    case StatusWording::Mood::idle:
        line.state = "idle";
        break;
    }

    if (running > 0) line.text.append(std::to_string(running)).append(" working");
    if (running > 0 && waiting > 0) line.text.append(" \u00B7 ");
    if (waiting > 0) line.text.append(std::to_string(waiting)).append(" waiting");
    if (line.text.empty()) line.text = line.state;

    // In a fixed order: the scans may hand the same sessions over in another
    // order, which is no change of what the line shows.
    std::vector<std::string> sessionLines;
    for (const auto& session : sessions) sessionLines.push_back(sessionLine(session));
    std::sort(sessionLines.begin(), sessionLines.end());
    for (const auto& text : sessionLines) {
        if (!line.tooltip.empty()) line.tooltip.push_back('\n');
        line.tooltip.append(text);
    }
    if (sessions.empty()) line.tooltip = StatusItemRenderer::summary(snapshot);

    if (!sessions.empty())
        line.percentage = int((running * 200 + std::int64_t(sessions.size())) / (2 * std::int64_t(sessions.size())));
    return line;
}

std::optional<StatusLine::Format> StatusLine::formatNamed(std::string_view name) {
    if (name == "json") return Format::json;
    if (name == "text") return Format::text;
    return std::nullopt;
}

std::string StatusLine::printed(Format format) const {
    if (format == Format::text) return text;
    nlohmann::ordered_json object;
    object["text"] = markupEscaped(text);
    object["alt"] = state;
    object["tooltip"] = markupEscaped(tooltip);
    object["class"] = state;
    object["percentage"] = percentage;
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace brindleaf
