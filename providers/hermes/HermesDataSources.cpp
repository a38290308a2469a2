#include "providers/hermes/HermesDataSources.hpp"

#include "core/SafeFileReader.hpp"
#include "core/StringPredicateMemo.hpp"
#include "core/TimestampParsing.hpp"
#include "providers/hermes/HermesProcessTable.hpp"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <csignal>
#include <sys/types.h>

namespace brindleaf {

namespace {

constexpr std::string_view workerMarker = "tui_gateway.slash_worker";
// 9999-12-31T23:59:59Z: no agent writes a later date.
constexpr double latestPlausibleSeconds = 253402300799.0;

// Visits the words of `text` split at single spaces, empty words dropped,
// until `visit` returns false.
template <typename Visit>
void forEachWord(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start && !visit(text.substr(start, end - start))) return;
        start = end + 1;
    }
}

StringPredicateMemo& workerMemo() {
    static StringPredicateMemo memo([](std::string_view command) { return isHermesWorkerCommand(command); });
    return memo;
}

} // namespace

std::optional<Date> parseHermesDate(std::string_view text) { return parseISO8601Date(text); }

std::optional<Date> hermesEpochSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > latestPlausibleSeconds) return std::nullopt;
    return seconds;
}

std::optional<Date> hermesEpochSecondsFromText(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        // A leading minus is never a plausible date; a doubled sign is not a number.
        return std::nullopt;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return hermesEpochSeconds(value);
}

std::optional<int64_t> parseWholeInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (negative) {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return std::nullopt;
        return magnitude == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    }
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

std::optional<int64_t> jsonIntValue(simdjson::dom::element value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return value.get_int64().value_unsafe();
    case simdjson::dom::element_type::UINT64: {
        const uint64_t raw = value.get_uint64().value_unsafe();
        if (raw > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<int64_t>(raw);
    }
    case simdjson::dom::element_type::DOUBLE: {
        // 12.0 is an integer written as a float; 12.5 is not an integer at all.
        const double raw = value.get_double().value_unsafe();
        if (!std::isfinite(raw) || std::trunc(raw) != raw) return std::nullopt;
        if (raw < -9223372036854775808.0 || raw >= 9223372036854775808.0) return std::nullopt;
        return static_cast<int64_t>(raw);
    }
    case simdjson::dom::element_type::STRING:
        return parseWholeInteger(value.get_string().value_unsafe());
    default:
        return std::nullopt;
    }
}

std::optional<double> jsonDoubleValue(simdjson::dom::element value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
        return value.get_double().value_unsafe();
    case simdjson::dom::element_type::STRING: {
        std::string_view text = value.get_string().value_unsafe();
        bool negative = false;
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            negative = text.front() == '-';
            text.remove_prefix(1);
        }
        if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
        double parsed = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
        if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return negative ? -parsed : parsed;
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::string> jsonNonEmptyString(simdjson::dom::element value) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS || text.empty()) return std::nullopt;
    return std::string(text);
}

std::optional<simdjson::dom::element> jsonMember(simdjson::dom::object object, std::string_view key) {
    simdjson::dom::element member;
    if (object.at_key(key).get(member) != simdjson::SUCCESS) return std::nullopt;
    return member;
}

std::optional<std::string> readFileTail(const std::string& path, std::size_t byteCount) {
    auto tail = SafeFileReader::readTail(path, byteCount);
    if (!tail) return std::nullopt;
    return std::move(tail->bytes);
}

bool isHermesProcessAlive(int64_t pid) {
    if (pid < 1 || pid > INT32_MAX) return false;
    if (::kill(static_cast<pid_t>(pid), 0) == 0) return true;
    return errno == EPERM;
}

int64_t hermesGatewayRunningCount(const std::optional<HermesGatewayState>& gateway) {
    if (!gateway || gateway->state != "running" || gateway->activeAgents < 1) return 0;
    if (!gateway->pid || *gateway->pid < 1 || !isHermesProcessAlive(*gateway->pid)) return 0;
    return gateway->activeAgents;
}

bool isHermesWorkerCommand(std::string_view command) { return command.find(workerMarker) != std::string_view::npos; }

std::optional<std::string> hermesWorkerSessionKey(std::string_view command) {
    std::optional<std::string> key;
    bool flagSeen = false;
    forEachWord(command, [&](std::string_view word) {
        if (flagSeen) {
            key = std::string(word);
            return false;
        }
        if (word == "--session-key") flagSeen = true;
        return true;
    });
    return key;
}

std::optional<int64_t> hermesWorkerPID(std::string_view line) {
    std::optional<int64_t> pid;
    forEachWord(line, [&](std::string_view word) {
        pid = parseWholeInteger(word);
        return false;
    });
    return pid;
}

std::vector<HermesLiveWorker> hermesLiveWorkersFromSamples(const std::vector<ProcessResourceSample>& samples) {
    std::vector<HermesLiveWorker> workers;
    auto& memo = workerMemo();
    for (const auto& sample : samples) {
        if (!memo.evaluate(sample.command)) continue;
        if (auto key = hermesWorkerSessionKey(sample.command)) workers.push_back({std::move(*key), sample.pid});
    }
    return workers;
}

std::vector<HermesLiveWorker> hermesLiveWorkersFromCommands(const std::vector<std::string>& lines) {
    std::vector<HermesLiveWorker> workers;
    for (const auto& line : lines) {
        if (!isHermesWorkerCommand(line)) continue;
        if (auto key = hermesWorkerSessionKey(line)) workers.push_back({std::move(*key), hermesWorkerPID(line)});
    }
    return workers;
}

std::optional<SessionResourceUsage> processTreeUsage(const std::set<int64_t>& pids,
                                                     const std::vector<ProcessResourceSample>& samples) {
    HermesProcessTable table(samples, std::string());
    return table.treeUsage(pids);
}

} // namespace brindleaf
