#pragma once

// Synthetic Claude Code transcripts for the Claude benchmarks, shaped like the
// engine writes them: envelope keys on every record, one line per assistant
// content block sharing a message id, large tool results, and the bookkeeping
// records (file-history snapshots, queue operations, system records,
// attachments, request blobs) interleaved.

#include "core/Date.hpp"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>

namespace brindleaf::claudebench {

inline std::string isoTime(Date date) {
    const time_t seconds = static_cast<time_t>(std::floor(date));
    tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>((date - std::floor(date)) * 1000));
    return buffer;
}

class TranscriptWriter {
public:
    TranscriptWriter(std::string sessionID, std::string cwd, Date start)
        : sessionID_(std::move(sessionID)), cwd_(std::move(cwd)), time_(start) {}

    // Appends one exchange (prompt, assistant blocks, a tool call and its
    // result, bookkeeping) of roughly `approxBytes` bytes.
    void exchange(std::string& out, size_t approxBytes) {
        ++turn_;
        const std::string msg = "msg_01" + std::to_string(turn_) + "Xq7";
        const std::string tool = "toolu_01" + std::to_string(turn_) + "Bz";
        line(out, "user", R"("message":{"role":"user","content":"Please look at the failing test in module )" +
                              std::to_string(turn_) + R"( and fix it"})");
        out += R"({"type":"file-history-snapshot","messageId":")" + msg +
               R"(","snapshot":{"messageId":")" + msg + R"(","trackedFileBackups":{},"timestamp":")" + isoTime(time_) +
               R"("},"isSnapshotUpdate":false})" "\n";
        out += R"({"type":"queue-operation","operation":"dequeue","timestamp":")" + isoTime(time_) +
               R"(","sessionId":")" + sessionID_ + "\"}\n";
        line(out, "api-request-blob", R"("message":{"role":"system","content":"You are Claude Code."})");
        line(out, "assistant", assistant(msg, R"({"type":"thinking","thinking":"Let me read the test first.","signature":"EqMBCkYIBhgCKkB"})"));
        line(out, "assistant", assistant(msg, R"({"type":"text","text":"I'll start by reading the test file."})"));
        line(out, "assistant",
             assistant(msg, R"({"type":"tool_use","id":")" + tool +
                                R"(","name":"Bash","input":{"command":"npm test -- --grep module","description":"Run the module tests"}})"));
        const size_t fixed = 3000;
        const size_t payload = approxBytes > fixed ? approxBytes - fixed : 200;
        std::string output;
        output.reserve(payload);
        while (output.size() < payload) output += "  \\u2713 passes case number " + std::to_string(output.size()) + "\\n";
        line(out, "user",
             R"("message":{"role":"user","content":[{"tool_use_id":")" + tool + R"(","type":"tool_result","content":")" +
                 output + R"(","is_error":false}]},"toolUseResult":{"stdout":"ok","stderr":"","interrupted":false})");
        out += R"({"parentUuid":"x","isSidechain":false,"type":"system","subtype":"stop_hook_summary","hookCount":1,"level":"suggestion","timestamp":")" +
               isoTime(time_) + R"(","sessionId":")" + sessionID_ + "\"}\n";
        line(out, "attachment", R"("attachment":{"type":"todo_reminder","content":[],"itemCount":0})");
        line(out, "assistant", assistant(msg + "b", R"({"type":"text","text":"The tests pass now."})"));
    }

    // Appends a background shell launch whose task id is `taskID`.
    void backgroundLaunch(std::string& out, const std::string& taskID) {
        ++turn_;
        const std::string tool = "toolu_bg" + std::to_string(turn_);
        line(out, "assistant",
             assistant("msg_bg" + std::to_string(turn_),
                       R"({"type":"tool_use","id":")" + tool +
                           R"(","name":"Bash","input":{"command":"npm run dev","description":"Start dev server","run_in_background":true}})"));
        line(out, "user", R"("message":{"role":"user","content":[{"tool_use_id":")" + tool +
                              R"(","type":"tool_result","content":"Command running in background with ID: )" + taskID +
                              R"("}]},"toolUseResult":{"backgroundTaskId":")" + taskID + "\"}");
    }

    Date time() const { return time_; }

private:
    std::string assistant(const std::string& messageID, const std::string& block) const {
        return R"("message":{"id":")" + messageID +
               R"(","type":"message","role":"assistant","model":"claude-opus-4-5","content":[)" + block +
               R"(],"stop_reason":null,"usage":{"input_tokens":4,"output_tokens":120,"cache_read_input_tokens":21000}},"requestId":"req_011CV")";
    }

    void line(std::string& out, const std::string& type, const std::string& body) {
        time_ += 0.75;
        const uint64_t number = counter_++;
        out += R"({"parentUuid":"a1b2c3d4-0000-4000-8000-)" + std::to_string(100000000000 + number) +
               R"(","isSidechain":false,"userType":"external","cwd":")" + cwd_ + R"(","sessionId":")" + sessionID_ +
               R"(","version":"2.1.14","gitBranch":"main","type":")" + type + "\"," + body + R"(,"uuid":"e5f6-)" +
               std::to_string(number) + R"(","timestamp":")" + isoTime(time_) + "\"}\n";
    }

    std::string sessionID_;
    std::string cwd_;
    Date time_;
    uint64_t turn_ = 0;
    uint64_t counter_ = 0;
};

// A transcript of at least `bytes` bytes whose last exchange ends at about `end`.
inline std::string makeTranscript(const std::string& sessionID, const std::string& cwd, size_t bytes, Date end,
                                  size_t exchangeBytes = 6000) {
    const size_t exchanges = bytes / exchangeBytes + 1;
    TranscriptWriter writer(sessionID, cwd, end - static_cast<double>(exchanges) * 9.0);
    std::string out;
    out.reserve(bytes + exchangeBytes * 2);
    while (out.size() < bytes) writer.exchange(out, exchangeBytes);
    return out;
}

} // namespace brindleaf::claudebench
