#include "providers/claude/ClaudeTranscriptAnalyzer.hpp"

#include "core/FileStat.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TextUtils.hpp"
#include "core/TimestampParsing.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeTextScan.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace brindleaf {

using namespace claudejson;
using claudetext::contains;

ClaudeTranscriptAnalyzer::ClaudeTranscriptAnalyzer() : maxBytes_(defaultMaxBytes), cache_(cacheCapacity) {}

std::optional<Date> ClaudeTranscriptAnalyzer::parseTimestamp(std::string_view text) {
    if (auto date = parseISO8601Timestamp(text)) return date;
    return parseISO8601Fallback(text);
}

std::optional<std::string> ClaudeTranscriptAnalyzer::readTail(const std::string& path, std::optional<uint64_t> limit) {
    auto tail = SafeFileReader::readTail(path, static_cast<std::size_t>(limit.value_or(defaultMaxBytes)));
    if (!tail) return std::nullopt;
    return std::move(tail->bytes);
}

ClaudeTranscriptState ClaudeTranscriptAnalyzer::parse(const std::string& path, std::optional<uint64_t> maxBytes) const {
    const std::optional<FileStat::Info> info = FileStat::info(path);
    return readAndAnalyze(path, maxBytes.value_or(maxBytes_), info ? std::optional<Date>(info->modifiedAt) : std::nullopt,
                          info ? info->size : 0);
}

namespace {

bool isConversationType(std::optional<std::string_view> type) {
    return !type || *type == "user" || *type == "assistant" || *type == "system";
}

// The working values of one pass over a tail.
class TranscriptPass {
public:
    explicit TranscriptPass(std::optional<Date> modifiedAt) : modifiedAt_(modifiedAt) {}

    void record(object rec);
    ClaudeTranscriptState finish();

private:
    using Analyzer = ClaudeTranscriptAnalyzer;

    void mainChain(object rec, std::optional<std::string_view> eventRole, std::optional<Date> timestamp,
                   bool isActivity);
    void userRecord(object rec, Analyzer::Content content, Analyzer::UserTextKind kind,
                    std::optional<Date> timestamp);
    void sidechain(object rec);
    void toolUse(object block, std::optional<Date> timestamp);
    void toolResult(object block, std::optional<Date> timestamp);
    void forgetToolUse(const std::string& id) {
        pendingToolUseIDs_.erase(id);
        subagentsByToolUseID_.erase(id);
        pendingUserChoiceIDs_.erase(id);
    }

    static std::optional<std::string_view> recordResultID(object rec) {
        if (!hasKey(rec, "toolUseResult")) return std::nullopt;
        if (auto id = nonEmptyText(rec, "toolUseID")) return id;
        return nonEmptyText(rec, "tool_use_id");
    }

    std::optional<Date> modifiedAt_;
    ClaudeTranscriptState state_;
    std::optional<Date> lastEventAt_;

    std::optional<std::string> mainModel_, mainEffort_, sideModel_, sideEffort_;
    std::optional<Date> openTurnStartedAt_;
    bool lastUserInterrupted_ = false;
    bool lastUserWasCommandOutput_ = false;
    std::optional<std::string> lastSidechainRole_;
    bool sidechainLastUserInterrupted_ = false;
    std::unordered_set<std::string> pendingToolUseIDs_, sidechainPendingToolUseIDs_, pendingUserChoiceIDs_;
    std::unordered_map<std::string, ClaudeSubagent> subagentsByToolUseID_;
    std::vector<std::string> subagentOrder_;
    std::unordered_set<std::string> backgroundBashToolUseIDs_, agentLaunchToolUseIDs_, monitorToolUseIDs_;
    std::unordered_map<std::string, std::string> sendMessageTargets_, taskStopTargets_;
    std::optional<std::pair<Date, std::string>> latestBackgroundLaunch_;
};

void TranscriptPass::record(object rec) {
    // 1. Session id and working directory: the first ones in the tail.
    if (!state_.sessionID) {
        auto id = nonEmptyText(rec, "sessionId");
        if (!id) id = nonEmptyText(rec, "session_id");
        if (id) state_.sessionID = std::string(*id);
    }
    if (!state_.cwd) {
        if (auto cwd = nonEmptyText(rec, "cwd")) state_.cwd = std::string(*cwd);
    }
    // 2.-5. Model and effort of the chain the record belongs to.
    const bool isSidechain = isTrue(rec, "isSidechain");
    auto effort = nonEmptyText(rec, "perTurnEffort");
    if (!effort) effort = nonEmptyText(rec, "effort");
    auto message = objectField(rec, "message");
    std::optional<std::string_view> model;
    if (message && nonEmptyText(*message, "role") == std::optional<std::string_view>("assistant") &&
        !isTrue(rec, "isApiErrorMessage")) {
        model = nonEmptyText(*message, "model");
        if (model == std::optional<std::string_view>("<synthetic>")) model.reset();
    }
    if (effort) (isSidechain ? sideEffort_ : mainEffort_) = std::string(*effort);
    if (model) (isSidechain ? sideModel_ : mainModel_) = std::string(*model);
    // 6. Titles the engine generated.
    const auto type = nonEmptyText(rec, "type");
    if (type == std::optional<std::string_view>("ai-title")) {
        if (auto aiTitle = nonEmptyText(rec, "aiTitle")) state_.aiTitle = std::string(*aiTitle);
    }
    // 7. Timestamp.
    std::optional<Date> timestamp;
    if (auto text = nonEmptyText(rec, "timestamp")) timestamp = Analyzer::parseTimestamp(*text);

    // Bookkeeping records (request blobs and the like) carry a "message" with a
    // role without being a conversation turn; they end here.
    if (!isConversationType(textField(rec, "type"))) return;

    // 8.-9. Activity.
    bool isActivity = message && hasKey(*message, "role");
    if (isActivity) {
        if (auto origin = objectField(rec, "origin");
            origin && textField(*origin, "kind") == std::optional<std::string_view>("task-notification"))
            isActivity = false;
    }
    if (isActivity && timestamp && (!lastEventAt_ || *timestamp > *lastEventAt_)) lastEventAt_ = timestamp;

    if (isSidechain) {
        sidechain(rec);
    } else {
        mainChain(rec, Analyzer::eventRole(rec), timestamp, isActivity);
    }
}

void TranscriptPass::mainChain(object rec, std::optional<std::string_view> eventRole, std::optional<Date> timestamp,
                               bool isActivity) {
    if (eventRole) {
        state_.lastRole = std::string(*eventRole);
        state_.hasMeaningfulTurn = true;
    }
    const auto role = Analyzer::messageRole(rec);
    if (role == std::optional<std::string_view>("assistant")) {
        state_.isBlockedByApiError = boolField(rec, "isApiErrorMessage").value_or(false);
    }
    const auto content = Analyzer::messageContent(rec);
    const auto kind = Analyzer::userTextKind(content);
    const bool skipped = isTrue(rec, "isCompactSummary") || kind == Analyzer::UserTextKind::localCommandCaveat;

    if (role) {
        if (*role != "user") {
            state_.hasOpenTurn = false;
            state_.lastConversationRole = std::string(*role);
        } else if (!skipped) {
            userRecord(rec, content, kind, timestamp);
        }
    }
    if (!state_.title && eventRole == std::optional<std::string_view>("user") && !skipped &&
        kind == Analyzer::UserTextKind::plainText) {
        if (auto text = Analyzer::firstText(content)) state_.title = firstLineTruncated(80, *text);
    }
    for (object block : Analyzer::contentBlocks(content)) {
        const auto blockType = textField(block, "type");
        if (blockType == std::optional<std::string_view>("tool_use")) {
            toolUse(block, timestamp);
        } else if (blockType == std::optional<std::string_view>("tool_result")) {
            toolResult(block, timestamp);
        }
    }
    if (auto id = recordResultID(rec)) forgetToolUse(std::string(*id));
    if (isActivity) state_.endsWithSidechainActivity = false;
}

void TranscriptPass::userRecord(object rec, Analyzer::Content content, Analyzer::UserTextKind kind,
                                std::optional<Date> timestamp) {
    bool isTaskNotification = false;
    if (auto origin = objectField(rec, "origin")) {
        isTaskNotification = textField(*origin, "kind") == std::optional<std::string_view>("task-notification");
    }
    if (!isTaskNotification) {
        if (auto text = asText(content)) isTaskNotification = contains(*text, "<task-notification>");
    }
    for (const std::string& id : Analyzer::settledTaskNotificationIDs(content)) {
        state_.pendingBackgroundTasks.erase(id);
        if (timestamp) {
            auto [it, inserted] = state_.settledBackgroundTasks.try_emplace(id, *timestamp);
            if (!inserted && *timestamp > it->second) it->second = *timestamp;
        }
    }
    const bool isInterrupt = Analyzer::containsInterruptMarker(content);
    state_.lastConversationRole = "user";

    if (kind == Analyzer::UserTextKind::localCommandOutput) {
        state_.hasOpenTurn = false;
        if (isInterrupt) state_.tailSawInterrupt = true;
        lastUserWasCommandOutput_ = true;
        lastUserInterrupted_ = isInterrupt;
        return;
    }
    if (isInterrupt) {
        state_.scheduledWakeupAt.reset();
        state_.tailSawInterrupt = true;
        if (openTurnStartedAt_ && timestamp && !(*timestamp - *openTurnStartedAt_ <= 5.0)) state_.hasOpenTurn = false;
        lastUserWasCommandOutput_ = false;
        lastUserInterrupted_ = true;
        return;
    }
    if (auto delay = Analyzer::scheduledWakeupDelay(content)) {
        const std::optional<Date> base = timestamp ? timestamp : lastEventAt_;
        state_.scheduledWakeupAt = base ? std::optional<Date>(*base + *delay) : std::nullopt;
        lastUserWasCommandOutput_ = false;
        lastUserInterrupted_ = false;
        return;
    }
    if (Analyzer::hasToolResult(content)) {
        lastUserWasCommandOutput_ = false;
        lastUserInterrupted_ = false;
        return;
    }
    // A prompt.
    state_.scheduledWakeupAt.reset();
    if (!isTaskNotification) {
        openTurnStartedAt_ = timestamp;
        state_.hasOpenTurn = true;
    }
    lastUserWasCommandOutput_ = false;
    lastUserInterrupted_ = false;
}

void TranscriptPass::sidechain(object rec) {
    const auto content = Analyzer::messageContent(rec);
    if (auto role = Analyzer::messageRole(rec)) {
        lastSidechainRole_ = std::string(*role);
        if (*role == "user") sidechainLastUserInterrupted_ = Analyzer::containsInterruptMarker(content);
    }
    for (object block : Analyzer::contentBlocks(content)) {
        const auto blockType = textField(block, "type");
        if (blockType == std::optional<std::string_view>("tool_use")) {
            if (auto id = nonEmptyText(block, "id")) sidechainPendingToolUseIDs_.emplace(*id);
        } else if (blockType == std::optional<std::string_view>("tool_result")) {
            if (auto id = nonEmptyText(block, "tool_use_id")) sidechainPendingToolUseIDs_.erase(std::string(*id));
        }
    }
    if (auto id = recordResultID(rec)) sidechainPendingToolUseIDs_.erase(std::string(*id));
    state_.endsWithSidechainActivity = true;
}

void TranscriptPass::toolUse(object block, std::optional<Date> timestamp) {
    auto idText = nonEmptyText(block, "id");
    if (!idText) return;
    std::string id(*idText);
    pendingToolUseIDs_.insert(id);
    auto name = textField(block, "name");
    if (!name) return;
    auto input = objectField(block, "input");
    if (*name == "AskUserQuestion" || *name == "ExitPlanMode") {
        pendingUserChoiceIDs_.insert(id);
    } else if (*name == "Task" || *name == "Agent") {
        if (!subagentsByToolUseID_.count(id)) subagentOrder_.push_back(id);
        ClaudeSubagent subagent;
        subagent.toolUseID = id;
        if (input) {
            if (auto description = nonEmptyText(*input, "description")) subagent.description = std::string(*description);
            if (auto type = nonEmptyText(*input, "subagent_type")) subagent.subagentType = std::string(*type);
            subagent.runtimeProfile = Analyzer::runtimeProfile(*input);
        }
        subagentsByToolUseID_[id] = std::move(subagent);
        agentLaunchToolUseIDs_.insert(id);
    } else if (*name == "Bash") {
        if (!input) return;
        if (isTrue(*input, "run_in_background")) backgroundBashToolUseIDs_.insert(id);
        auto summary = Analyzer::backgroundLaunchDescription(*input);
        if (summary && timestamp && !(latestBackgroundLaunch_ && latestBackgroundLaunch_->first > *timestamp)) {
            latestBackgroundLaunch_ = std::make_pair(*timestamp, std::move(*summary));
        }
    } else if (*name == "SendMessage") {
        if (!input) return;
        auto target = nonEmptyText(*input, "to");
        if (!target) target = nonEmptyText(*input, "agent_id");
        if (target) sendMessageTargets_[id] = std::string(*target);
    } else if (*name == "Monitor") {
        monitorToolUseIDs_.insert(id);
    } else if (*name == "TaskStop") {
        if (!input) return;
        auto target = nonEmptyText(*input, "task_id");
        if (!target) target = nonEmptyText(*input, "shell_id");
        if (target) taskStopTargets_[id] = std::string(*target);
    }
}

void TranscriptPass::toolResult(object block, std::optional<Date> timestamp) {
    auto idText = nonEmptyText(block, "tool_use_id");
    if (!idText) return;
    const std::string id(*idText);
    const std::string text = Analyzer::joinedText(field(block, "content"));
    forgetToolUse(id);
    if (backgroundBashToolUseIDs_.count(id)) {
        if (auto taskID = Analyzer::backgroundTaskID(text); taskID && timestamp) {
            state_.pendingBackgroundTasks[*taskID] = *timestamp;
            state_.localProcessTaskIDs.insert(*taskID);
        }
    }
    if (agentLaunchToolUseIDs_.count(id) && contains(text, "Async agent launched")) {
        if (auto agentID = Analyzer::asyncAgentID(text); agentID && timestamp) {
            state_.pendingBackgroundTasks[*agentID] = *timestamp;
        }
    }
    if (auto it = sendMessageTargets_.find(id);
        it != sendMessageTargets_.end() && contains(text, "in the background") && contains(text, "notified")) {
        if (timestamp) state_.pendingBackgroundTasks[it->second] = *timestamp;
    }
    if (monitorToolUseIDs_.count(id)) {
        if (auto taskID = Analyzer::monitorTaskID(text); taskID && timestamp) {
            state_.pendingBackgroundTasks[*taskID] = *timestamp;
            state_.localProcessTaskIDs.insert(*taskID);
        }
    }
    if (auto it = taskStopTargets_.find(id);
        it != taskStopTargets_.end() && contains(text, "Successfully stopped task") && timestamp) {
        state_.pendingBackgroundTasks.erase(it->second);
        state_.settledBackgroundTasks[it->second] = *timestamp;
    }
}

ClaudeTranscriptState TranscriptPass::finish() {
    state_.lastEventAt = lastEventAt_ ? lastEventAt_ : modifiedAt_;
    state_.runtimeProfile = makeRuntimeProfile(mainModel_, mainEffort_, SessionRuntimeProfileSource::claudeTranscript);
    state_.sidechainRuntimeProfile =
        makeRuntimeProfile(sideModel_, sideEffort_, SessionRuntimeProfileSource::claudeTranscript);
    if (state_.lastConversationRole == std::optional<std::string>("user")) {
        state_.hasOpenTurn = lastUserInterrupted_ ? state_.hasOpenTurn
                                                  : (state_.hasOpenTurn || !lastUserWasCommandOutput_);
    }
    state_.sidechainHasOpenTurn = lastSidechainRole_ == std::optional<std::string>("user") && !sidechainLastUserInterrupted_;
    state_.hasPendingToolUse = !pendingToolUseIDs_.empty();
    state_.sidechainHasPendingToolUse = !sidechainPendingToolUseIDs_.empty();
    state_.hasPendingUserChoice = !pendingUserChoiceIDs_.empty();
    std::unordered_set<std::string> listed; // an id launched again after its answer is listed once
    for (const std::string& id : subagentOrder_) {
        if (auto it = subagentsByToolUseID_.find(id); it != subagentsByToolUseID_.end() && listed.insert(id).second) {
            state_.pendingSubagents.push_back(it->second);
        }
    }
    if (latestBackgroundLaunch_) state_.backgroundTaskSummary = latestBackgroundLaunch_->second;
    return std::move(state_);
}

} // namespace

namespace {

// Parses every complete line of [begin, begin + length) and returns where the
// unfinished last line starts (length when the bytes end with a line feed).
// With `final`, the unfinished last line is parsed too. SIMDJSON_PADDING
// readable bytes must follow `length`.
size_t feedLines(TranscriptPass& pass, simdjson::dom::parser& parser, const char* begin, size_t length, bool final) {
    const char* const end = begin + length;
    const char* lineStart = begin;
    while (lineStart < end) {
        const char* newline =
            static_cast<const char*>(std::memchr(lineStart, '\n', static_cast<size_t>(end - lineStart)));
        if (!newline && !final) break;
        const char* lineEnd = newline ? newline : end;
        const size_t lineLength = static_cast<size_t>(lineEnd - lineStart);
        if (lineLength > 0) {
            object rec;
            auto error = TolerantJSON::parse(parser, lineStart, lineLength, true).get_object().get(rec);
            if (error == simdjson::UTF8_ERROR) {
                const simdjson::padded_string repaired(repairUTF8(std::string_view(lineStart, lineLength)));
                if (TolerantJSON::parse(parser, repaired).get_object().get(rec) == simdjson::SUCCESS) pass.record(rec);
            } else if (error == simdjson::SUCCESS) {
                pass.record(rec);
            }
        }
        lineStart = lineEnd + 1;
    }
    return lineStart >= end ? length : static_cast<size_t>(lineStart - begin);
}

constexpr size_t readChunkBytes = 512 * 1024;

} // namespace

ClaudeTranscriptState ClaudeTranscriptAnalyzer::analyzeTail(std::string_view tail, std::optional<Date> modifiedAt) {
    TranscriptPass pass(modifiedAt);
    if (tail.empty()) return pass.finish();
    // One padded copy; each line is parsed in place.
    const simdjson::padded_string buffer(tail);
    simdjson::dom::parser parser;
    feedLines(pass, parser, buffer.data(), buffer.size(), true);
    return pass.finish();
}

ClaudeTranscriptState ClaudeTranscriptAnalyzer::readAndAnalyze(const std::string& path, uint64_t maxBytes,
                                                              std::optional<Date> modifiedAt, uint64_t knownSize) {
    // The tail is read piece by piece into a buffer this thread keeps, so a
    // large tail costs no large allocation; a line cut by a piece boundary is
    // carried to the front of the buffer and completed by the next piece.
    thread_local std::vector<char> buffer;
    TranscriptPass pass(modifiedAt);
    simdjson::dom::parser parser;
    uint64_t offset = knownSize > maxBytes ? knownSize - maxBytes : 0;
    uint64_t remaining = maxBytes;
    size_t carried = 0;
    bool readAnything = false;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(readChunkBytes, remaining));
        if (buffer.size() < carried + want + simdjson::SIMDJSON_PADDING)
            buffer.resize(carried + want + simdjson::SIMDJSON_PADDING);
        const auto range = SafeFileReader::readRange(path, offset, want, buffer.data() + carried);
        if (!range) {
            if (!readAnything) {
                ClaudeTranscriptState empty;
                empty.lastEventAt = modifiedAt;
                return empty;
            }
            break;
        }
        readAnything = true;
        if (range->bytesRead == 0) break;
        offset += range->bytesRead;
        remaining -= range->bytesRead;
        const size_t filled = carried + range->bytesRead;
        const size_t consumed = feedLines(pass, parser, buffer.data(), filled, false);
        carried = filled - consumed;
        if (carried > 0 && consumed > 0) std::memmove(buffer.data(), buffer.data() + consumed, carried);
    }
    if (carried > 0) feedLines(pass, parser, buffer.data(), carried, true);
    // A buffer grown for one very long line is not kept.
    if (buffer.size() > 4 * readChunkBytes) std::vector<char>().swap(buffer);
    return pass.finish();
}

} // namespace brindleaf
