// Hermes's agent log ("logs/agent.log"): what its recent lines say about each session.
#include "providers/hermes/HermesStatusProvider.hpp"

#include "core/FileStat.hpp"
#include "core/TextUtils.hpp"
#include "providers/hermes/HermesDataSources.hpp"
#include "providers/hermes/HermesScanInputs.hpp"

#include <ctime>
#include <unordered_map>

namespace brindleaf {

std::string_view toString(HermesRuntimeSignal::Kind kind) {
    switch (kind) {
    case HermesRuntimeSignal::Kind::inFlight: return "inFlight";
    case HermesRuntimeSignal::Kind::recentActivity: return "recentActivity";
    case HermesRuntimeSignal::Kind::subagent: return "subagent";
    case HermesRuntimeSignal::Kind::userAttention: return "userAttention";
    case HermesRuntimeSignal::Kind::turnEnded: return "turnEnded";
    }
    return "recentActivity";
}

namespace {

constexpr std::size_t timestampLength = 23; // "yyyy-MM-dd HH:mm:ss,SSS"
constexpr std::size_t hourPrefixLength = 13; // "yyyy-MM-dd HH"

bool contains(std::string_view line, std::string_view needle) { return line.find(needle) != std::string_view::npos; }

bool digitsAt(std::string_view text, std::size_t position, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = position; i < position + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The log's local hours already turned into dates, while one log is read.
// Python's logging writes local time, and mktime may stat /etc/localtime on
// every call, so an hour of log lines should need two calls, not one per line.
// An hour is taken whole only when the next one starts exactly 3,600 s after
// it; otherwise the zone's offset changes inside it (at a half hour on Lord
// Howe Island, for one) and each of its lines is converted on its own.
struct LocalHour {
    std::optional<Date> start;
    bool uniform = false;
};
using HourMemo = std::unordered_map<std::string_view, LocalHour>;

std::optional<Date> localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    // Only the last second of 1969 (UTC) reads as a failure, which no log holds.
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<Date>(seconds);
}

LocalHour localHour(int year, int month, int day, int hour) {
    LocalHour local{localTime(year, month, day, hour, 0, 0), false};
    const auto next = localTime(year, month, day, hour + 1, 0, 0); // mktime carries into the next day
    local.uniform = local.start && next && *next - *local.start == 3600;
    return local;
}

// The local time stamp at the start of a log line, as a Date.
std::optional<Date> logTimestamp(std::string_view line, HourMemo* memo) {
    if (line.size() < timestampLength) return std::nullopt;
    int year, month, day, hour, minute, second, millis;
    if (!digitsAt(line, 0, 4, year) || line[4] != '-' || !digitsAt(line, 5, 2, month) || line[7] != '-' ||
        !digitsAt(line, 8, 2, day) || line[10] != ' ' || !digitsAt(line, 11, 2, hour) || line[13] != ':' ||
        !digitsAt(line, 14, 2, minute) || line[16] != ':' || !digitsAt(line, 17, 2, second) || line[19] != ',' ||
        !digitsAt(line, 20, 3, millis))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    std::optional<Date> start;
    const LocalHour* local = nullptr;
    if (memo) {
        const std::string_view key = line.substr(0, hourPrefixLength);
        auto it = memo->find(key);
        if (it == memo->end()) it = memo->emplace(key, localHour(year, month, day, hour)).first;
        local = &it->second;
    }
    if (local && local->uniform)
        start = *local->start + minute * 60 + second;
    else
        start = localTime(year, month, day, hour, minute, second);
    if (!start) return std::nullopt;
    return *start + millis / 1000.0;
}

bool hasApprovalMarker(std::string_view line) {
    return contains(line, "\"approval_pending\": true") || contains(line, "\"approval_pending\":true") ||
           contains(line, "\"status\": \"pending_approval\"") || contains(line, "\"status\":\"pending_approval\"") ||
           contains(line, "without user response") || contains(line, "NOT consented");
}

std::optional<HermesRuntimeSignal> classify(std::string_view line, HourMemo* memo) {
    using Kind = HermesRuntimeSignal::Kind;
    const auto timestamp = logTimestamp(line, memo);
    if (!timestamp) return std::nullopt;
    const std::size_t open = line.find('[');
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = line.find(']', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view sessionID = line.substr(open + 1, close - open - 1);
    if (sessionID.substr(0, 2) != "20") return std::nullopt;

    auto signal = [&](Kind kind, std::string_view evidence, bool needsUser) {
        std::string id = isValidUTF8(sessionID) ? std::string(sessionID) : repairUTF8(sessionID);
        return HermesRuntimeSignal{std::move(id), *timestamp, kind, std::string(evidence), needsUser};
    };

    if (contains(line, "agent.conversation_loop: Turn ended:"))
        return signal(Kind::turnEnded, "Hermes turn ended", false);
    if (contains(line, "agent.chat_completion_helpers:") && contains(line, "Waiting for backend response"))
        return signal(Kind::inFlight, "Hermes waiting for backend response", false);
    if (contains(line, "agent.turn_context: conversation turn:")) {
        if (contains(line, "platform=subagent")) return signal(Kind::subagent, "Hermes subagent turn", false);
        return signal(Kind::recentActivity, "Hermes active turn", false);
    }
    if (contains(line, "tools.async_delegation: Dispatched async delegation"))
        return signal(Kind::subagent, "Hermes subagent delegation", false);
    if (contains(line, "agent.tool_executor:") && contains(line, "Tool ") && contains(line, " returned error") &&
        hasApprovalMarker(line))
        return signal(Kind::userAttention, "Hermes awaiting user authorization", true);
    if (contains(line, "agent.tool_executor: tool "))
        return signal(Kind::recentActivity, "Hermes runtime tool activity", false);
    if (contains(line, "agent.conversation_compression: context compression"))
        return signal(Kind::inFlight, "Hermes context compression", false);
    return std::nullopt;
}

} // namespace

std::optional<HermesRuntimeSignal> HermesStatusProvider::classifyLogLine(std::string_view line) {
    return classify(line, nullptr);
}

std::vector<HermesRuntimeSignal> HermesStatusProvider::runtimeSignalsFromLogTail(std::string_view tail) {
    // The last non-empty lines, at most logLineLimit of them, oldest first. A
    // line feed never occurs inside a multi-byte sequence, so splitting before
    // the UTF-8 repair gives the same lines; the repair only concerns the
    // session ids taken from them (every marker is ASCII).
    std::vector<std::string_view> lines;
    lines.reserve(logLineLimit);
    std::size_t end = tail.size();
    while (end > 0 && lines.size() < logLineLimit) {
        const std::size_t feed = tail.rfind('\n', end - 1);
        const std::size_t start = feed == std::string_view::npos ? 0 : feed + 1;
        if (end > start) lines.push_back(tail.substr(start, end - start));
        if (feed == std::string_view::npos) break;
        end = feed;
    }

    HourMemo memo;
    std::unordered_map<std::string, HermesRuntimeSignal> latest;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        auto signal = classify(*it, &memo);
        if (!signal) continue;
        auto held = latest.find(signal->sessionID);
        if (held == latest.end()) {
            std::string key = signal->sessionID;
            latest.emplace(std::move(key), std::move(*signal));
        } else if (!(signal->timestamp < held->second.timestamp)) {
            held->second = std::move(*signal);
        }
    }
    std::vector<HermesRuntimeSignal> signals;
    signals.reserve(latest.size());
    for (auto& [id, signal] : latest) signals.push_back(std::move(signal));
    return signals;
}

std::vector<HermesRuntimeSignal> HermesStatusProvider::loadRuntimeSignals(const std::string& path) {
    auto tail = readFileTail(path, logTailBytes);
    if (!tail) return {};
    return runtimeSignalsFromLogTail(*tail);
}

HermesStatusProvider::SignalIndex::SignalIndex(std::vector<HermesRuntimeSignal> list) : signals(std::move(list)) {
    byID.reserve(signals.size());
    for (const auto& signal : signals) byID.emplace(signal.sessionID, &signal);
}

std::shared_ptr<const HermesStatusProvider::SignalIndex> HermesStatusProvider::sharedRuntimeSignals(
    const std::string& path, const FileStat::Info& info) {
    return runtimeSignalCache_.value(path, std::string(), info, [&path] {
        return std::shared_ptr<const SignalIndex>(std::make_shared<SignalIndex>(loadRuntimeSignals(path)));
    });
}

std::vector<HermesRuntimeSignal> HermesStatusProvider::runtimeSignals(const std::string& path) {
    auto info = FileStat::info(path);
    if (!info) return {};
    return sharedRuntimeSignals(path, *info)->signals;
}

} // namespace brindleaf
