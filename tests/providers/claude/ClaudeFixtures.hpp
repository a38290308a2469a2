#pragma once

// Builders of Claude Code transcript lines shaped like the engine writes them:
// every record carries the envelope keys (uuid, parentUuid, version, gitBranch,
// userType), one assistant response is one line per content block sharing a
// message id, and bookkeeping records are mixed in.

#include "core/Date.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

namespace brindleaf::claudefixtures {

using nlohmann::json;

inline std::string iso(Date date) {
    const double whole = std::floor(date);
    const time_t seconds = static_cast<time_t>(whole);
    tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[64];
    const int millis = static_cast<int>(std::lround((date - whole) * 1000)) % 1000;
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
    return buffer;
}

// Writes the lines of one session; every record gets the envelope.
class Transcript {
public:
    explicit Transcript(std::string sessionId = "5f0c6a1e-0000-4000-8000-000000000001",
                        std::string cwd = "/home/dev/projects/shop")
        : sessionId_(std::move(sessionId)), cwd_(std::move(cwd)) {}

    Transcript& raw(std::string line) {
        lines_.push_back(std::move(line));
        return *this;
    }

    Transcript& record(json rec, bool envelope = true) {
        if (envelope) {
            json full = {{"parentUuid", lastUuid_.empty() ? json(nullptr) : json(lastUuid_)},
                         {"isSidechain", sidechain_},
                         {"userType", "external"},
                         {"cwd", cwd_},
                         {"sessionId", sessionId_},
                         {"version", "2.1.14"},
                         {"gitBranch", "main"}};
            full.update(rec);
            lastUuid_ = "uuid-" + std::to_string(lines_.size());
            full["uuid"] = lastUuid_;
            rec = std::move(full);
        }
        lines_.push_back(rec.dump());
        return *this;
    }

    Transcript& sidechain(bool on) {
        sidechain_ = on;
        return *this;
    }

    Transcript& prompt(const std::string& text, Date at) {
        return record({{"type", "user"}, {"message", {{"role", "user"}, {"content", text}}}, {"timestamp", iso(at)}});
    }

    Transcript& userBlocks(json content, Date at, json extra = json::object()) {
        json rec = {{"type", "user"}, {"message", {{"role", "user"}, {"content", content}}}, {"timestamp", iso(at)}};
        rec.update(extra);
        return record(rec);
    }

    // One assistant line holding one content block.
    Transcript& assistantBlock(const std::string& messageId, json block, Date at,
                               const std::string& model = "claude-opus-4-5", json extra = json::object()) {
        json rec = {{"type", "assistant"},
                    {"requestId", "req_" + messageId},
                    {"message",
                     {{"id", messageId},
                      {"type", "message"},
                      {"role", "assistant"},
                      {"model", model},
                      {"content", json::array({block})},
                      {"stop_reason", nullptr},
                      {"usage", {{"input_tokens", 4}, {"output_tokens", 120}, {"cache_read_input_tokens", 21000}}}}},
                    {"timestamp", iso(at)}};
        rec.update(extra);
        return record(rec);
    }

    Transcript& assistantText(const std::string& messageId, const std::string& text, Date at,
                              const std::string& model = "claude-opus-4-5") {
        return assistantBlock(messageId, {{"type", "text"}, {"text", text}}, at, model);
    }

    Transcript& toolUse(const std::string& messageId, const std::string& toolId, const std::string& name, json input,
                        Date at) {
        return assistantBlock(messageId, {{"type", "tool_use"}, {"id", toolId}, {"name", name}, {"input", input}}, at);
    }

    Transcript& toolResult(const std::string& toolId, const std::string& text, Date at) {
        return userBlocks(json::array({{{"tool_use_id", toolId}, {"type", "tool_result"}, {"content", text}}}), at,
                          {{"toolUseResult", {{"stdout", text}, {"stderr", ""}, {"interrupted", false}}}});
    }

    // Records the analyzer has no use for, as the engine interleaves them.
    Transcript& noise(Date at) {
        record({{"type", "file-history-snapshot"},
                {"messageId", "snap-" + std::to_string(lines_.size())},
                {"snapshot", {{"trackedFileBackups", json::object()}, {"timestamp", iso(at)}}},
                {"isSnapshotUpdate", false}},
               false);
        record({{"type", "queue-operation"}, {"operation", "dequeue"}, {"timestamp", iso(at)}, {"sessionId", sessionId_}},
               false);
        record({{"type", "system"},
                {"subtype", "stop_hook_summary"},
                {"hookCount", 1},
                {"level", "suggestion"},
                {"timestamp", iso(at)}});
        record({{"type", "attachment"},
                {"attachment", {{"type", "todo_reminder"}, {"content", json::array()}, {"itemCount", 0}}},
                {"timestamp", iso(at)}});
        return *this;
    }

    // The request bookkeeping current engines write while a reply is on its way.
    Transcript& requestBlobs(Date at) {
        record({{"type", "api-request-blob"},
                {"message", {{"role", "user"}, {"content", json::array({{{"type", "text"}, {"text", "earlier turn"}}})}}},
                {"timestamp", iso(at)}});
        record({{"type", "api-request-blob"},
                {"message", {{"role", "system"}, {"content", "You are Claude Code."}}},
                {"timestamp", iso(at)}});
        return *this;
    }

    std::string text(const std::string& newline = "\n") const {
        std::string out;
        for (const auto& line : lines_) out += line + newline;
        return out;
    }

private:
    std::string sessionId_;
    std::string cwd_;
    std::string lastUuid_;
    bool sidechain_ = false;
    std::vector<std::string> lines_;
};

} // namespace brindleaf::claudefixtures
