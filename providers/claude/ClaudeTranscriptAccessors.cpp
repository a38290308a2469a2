// The record and content accessors of ClaudeTranscriptAnalyzer.
#include "core/TextUtils.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeTextScan.hpp"
#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace brindleaf {

using namespace claudejson;
using claudetext::contains;

namespace {

constexpr std::string_view interruptMarker = "[Request interrupted by user";

template <typename Visit>
void forEachBlock(ClaudeTranscriptAnalyzer::Content content, Visit&& visit) {
    if (!content) return;
    object single;
    if (content->get_object().get(single) == simdjson::SUCCESS) {
        visit(single);
        return;
    }
    simdjson::dom::array list;
    if (content->get_array().get(list) != simdjson::SUCCESS) return;
    for (element item : list) {
        if (!item.is_object()) return; // a list holding any non-object has no blocks
    }
    for (element item : list) {
        object block;
        if (item.get_object().get(block) == simdjson::SUCCESS && !visit(block)) return;
    }
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool interruptMarkerIn(ClaudeTranscriptAnalyzer::Content content, int depth) {
    if (!content || depth > ClaudeTranscriptAnalyzer::maxInterruptMarkerDepth) return false;
    std::string_view text;
    if (content->get_string().get(text) == simdjson::SUCCESS) return startsWith(text, interruptMarker);
    bool found = false;
    forEachBlock(content, [&](object block) {
        if (auto blockText = nonEmptyText(block, "text"); blockText && startsWith(*blockText, interruptMarker)) {
            found = true;
        } else if (auto nested = field(block, "content"); nested && interruptMarkerIn(nested, depth + 1)) {
            found = true;
        }
        return !found;
    });
    return found;
}

std::optional<std::string_view> textAfterMarker(std::string_view text, std::string_view marker) {
    const auto at = text.find(marker);
    if (at == std::string_view::npos) return std::nullopt;
    return text.substr(at + marker.size());
}

std::optional<std::string> idOrNothing(std::string_view run) {
    if (run.empty()) return std::nullopt;
    return std::string(run);
}

// The delay after "(in " in a wakeup confirmation: the run of numeric
// characters right after it, read as a decimal number. Absent when the run is
// empty, is not plain digits, or is not a believable delay.
std::optional<double> delayAfterMarker(std::string_view text) {
    auto rest = textAfterMarker(text, "(in ");
    if (!rest) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(rest->data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(rest->size(), INT32_MAX));
    int32_t end = 0;
    bool plainDigits = true;
    while (end < length) {
        int32_t next = end;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) == U_NT_NONE) break;
        if (c < '0' || c > '9') plainDigits = false;
        end = next;
    }
    if (end == 0 || !plainDigits) return std::nullopt;
    const std::string digits(rest->substr(0, static_cast<size_t>(end)));
    const double value = std::strtod(digits.c_str(), nullptr); // digits only: no locale dependence
    if (!std::isfinite(value) || value > ClaudeTranscriptAnalyzer::maxWakeupDelaySeconds) return std::nullopt;
    return value;
}

} // namespace

std::optional<std::string_view> ClaudeTranscriptAnalyzer::messageRole(Object record) {
    auto message = objectField(record, "message");
    if (!message) return std::nullopt;
    return nonEmptyText(*message, "role");
}

std::optional<std::string_view> ClaudeTranscriptAnalyzer::eventRole(Object record) {
    if (auto role = messageRole(record)) return role;
    return nonEmptyText(record, "type");
}

ClaudeTranscriptAnalyzer::Content ClaudeTranscriptAnalyzer::messageContent(Object record) {
    if (auto message = objectField(record, "message")) {
        if (isEmpty(*message)) return std::nullopt;
        return field(*message, "content");
    }
    return field(record, "content");
}

std::vector<ClaudeTranscriptAnalyzer::Object> ClaudeTranscriptAnalyzer::contentBlocks(Content content) {
    std::vector<Object> blocks;
    forEachBlock(content, [&](Object block) {
        blocks.push_back(block);
        return true;
    });
    return blocks;
}

std::optional<std::string_view> ClaudeTranscriptAnalyzer::firstText(Content content) {
    if (auto text = nonEmptyText(content)) return text;
    std::optional<std::string_view> found;
    forEachBlock(content, [&](Object block) {
        found = nonEmptyText(block, "text");
        return !found;
    });
    return found;
}

std::string ClaudeTranscriptAnalyzer::joinedText(Content content) {
    if (auto text = asText(content)) return std::string(*text);
    std::string joined;
    forEachBlock(content, [&](Object block) {
        if (auto text = nonEmptyText(block, "text")) {
            if (!joined.empty()) joined += ' ';
            joined += *text;
        }
        return true;
    });
    return joined;
}

bool ClaudeTranscriptAnalyzer::hasToolResult(Content content) {
    bool found = false;
    forEachBlock(content, [&](Object block) {
        found = textField(block, "type") == std::optional<std::string_view>("tool_result");
        return !found;
    });
    return found;
}

ClaudeTranscriptAnalyzer::UserTextKind ClaudeTranscriptAnalyzer::userTextKind(Content content) {
    auto text = firstText(content);
    if (!text) return UserTextKind::plainText;
    const auto start = text->find_first_not_of(" \n\t");
    const std::string_view rest = start == std::string_view::npos ? std::string_view() : text->substr(start);
    if (startsWith(rest, "<local-command-caveat>")) return UserTextKind::localCommandCaveat;
    if (startsWith(rest, "<local-command-stdout>") || startsWith(rest, "<local-command-stderr>"))
        return UserTextKind::localCommandOutput;
    if (startsWith(rest, "<command-name>")) return UserTextKind::commandName;
    return UserTextKind::plainText;
}

bool ClaudeTranscriptAnalyzer::containsInterruptMarker(Content content) { return interruptMarkerIn(content, 0); }

std::optional<double> ClaudeTranscriptAnalyzer::scheduledWakeupDelay(Content content) {
    std::optional<double> delay;
    forEachBlock(content, [&](Object block) {
        if (textField(block, "type") != std::optional<std::string_view>("tool_result")) return true;
        const std::string text = joinedText(field(block, "content"));
        // "(in " is needed anyway and is cheaper to look for first.
        if (!contains(text, "(in ") || !claudetext::containsIgnoringCase(text, "wakeup scheduled")) return true;
        delay = delayAfterMarker(text);
        return !delay;
    });
    return delay;
}

std::vector<std::string> ClaudeTranscriptAnalyzer::settledTaskNotificationIDs(Content content) {
    std::string text;
    if (auto whole = asText(content)) {
        text = *whole;
    } else {
        bool first = true;
        forEachBlock(content, [&](Object block) {
            if (!first) text += '\n';
            first = false;
            if (auto blockText = textField(block, "text")) {
                text += *blockText;
            } else if (textField(block, "type") == std::optional<std::string_view>("tool_result")) {
                text += joinedText(field(block, "content"));
            }
            return true;
        });
    }
    std::vector<std::string> settled;
    if (!contains(text, "<task-notification>")) return settled;
    const std::string_view all(text);
    size_t cursor = 0;
    while (true) {
        const size_t open = all.find("<task-id>", cursor);
        if (open == std::string_view::npos) break;
        const size_t idStart = open + std::string_view("<task-id>").size();
        const size_t close = all.find("</task-id>", idStart);
        if (close == std::string_view::npos) break;
        const std::string_view id = trimmedWhitespaceAndNewlines(all.substr(idStart, close - idStart));
        const size_t sectionStart = close + std::string_view("</task-id>").size();
        const size_t nextOpen = all.find("<task-id>", sectionStart);
        const std::string_view section =
            all.substr(sectionStart, nextOpen == std::string_view::npos ? std::string_view::npos : nextOpen - sectionStart);
        bool isSettled;
        if (contains(section, "<event>")) {
            isSettled = false;
        } else {
            const size_t statusOpen = section.find("<status>");
            const size_t statusStart = statusOpen == std::string_view::npos ? statusOpen : statusOpen + 8;
            const size_t statusClose =
                statusOpen == std::string_view::npos ? std::string_view::npos : section.find("</status>", statusStart);
            if (statusClose == std::string_view::npos) {
                isSettled = true;
            } else {
                const std::string status =
                    claudetext::asciiLowercased(trimmedWhitespaceAndNewlines(section.substr(statusStart, statusClose - statusStart)));
                isSettled = false;
                for (std::string_view word : {"completed", "failed", "stopped", "cancelled", "killed", "error", "exited"}) {
                    if (contains(status, word)) isSettled = true;
                }
            }
        }
        if (isSettled && !id.empty()) settled.emplace_back(id);
        cursor = sectionStart;
    }
    return settled;
}

std::optional<std::string> ClaudeTranscriptAnalyzer::backgroundTaskID(std::string_view text) {
    auto rest = textAfterMarker(text, "running in background with ID:");
    if (!rest) return std::nullopt;
    const auto start = rest->find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    return idOrNothing(claudetext::leadingIDRun(rest->substr(start)));
}

std::optional<std::string> ClaudeTranscriptAnalyzer::asyncAgentID(std::string_view text) {
    auto rest = textAfterMarker(text, "agentId:");
    if (!rest) return std::nullopt;
    const auto start = rest->find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    return idOrNothing(claudetext::leadingIDRun(rest->substr(start)));
}

std::optional<std::string> ClaudeTranscriptAnalyzer::monitorTaskID(std::string_view text) {
    auto rest = textAfterMarker(text, "Monitor started (task ");
    if (!rest) return std::nullopt;
    return idOrNothing(claudetext::leadingIDRun(*rest));
}

std::optional<std::string> ClaudeTranscriptAnalyzer::backgroundLaunchDescription(Object input) {
    const bool launch = isTrue(input, "run_in_background") ||
                        claudetext::containsIgnoringCase(nonEmptyText(input, "command").value_or(""), "nohup");
    if (!launch) return std::nullopt;
    auto description = nonEmptyText(input, "description");
    if (!description) return std::nullopt;
    return firstLineTruncated(80, *description);
}

std::optional<SessionRuntimeProfile> ClaudeTranscriptAnalyzer::runtimeProfile(Object input) {
    std::optional<std::string_view> effort = nonEmptyText(input, "reasoning_effort");
    if (!effort) effort = nonEmptyText(input, "reasoningEffort");
    if (!effort) effort = nonEmptyText(input, "effort");
    return makeRuntimeProfile(nonEmptyText(input, "model"), effort, SessionRuntimeProfileSource::claudeTaskRequest);
}

std::optional<SessionRuntimeProfile> makeRuntimeProfile(std::optional<std::string_view> model,
                                                        std::optional<std::string_view> effort,
                                                        SessionRuntimeProfileSource source) {
    if (model && model->empty()) model.reset();
    if (effort && effort->empty()) effort.reset();
    if (!model && !effort) return std::nullopt;
    return SessionRuntimeProfile(model ? std::optional<std::string>(*model) : std::nullopt,
                                 effort ? std::optional<std::string>(*effort) : std::nullopt, source);
}

} // namespace brindleaf
