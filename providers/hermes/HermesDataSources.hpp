#pragma once

#include "core/Date.hpp"
#include "core/ProcessResourceSample.hpp"
#include "core/SessionResourceUsage.hpp"
#include "providers/hermes/HermesGatewayState.hpp"
#include "providers/hermes/HermesLiveWorker.hpp"

#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Readers of the small bits of data Hermes leaves behind: dates, JSON
// values, process ids and the command lines of its terminal workers.
namespace brindleaf {

// A date written by Hermes as ISO 8601 text (with or without a fraction, "Z"
// or a numeric offset); absent for anything else.
std::optional<Date> parseHermesDate(std::string_view text);

// Seconds since 1970 as a Hermes date. Only finite values after 1970 and no
// later than the year 9999 count; anything else (0, negatives, inf, NaN,
// 1e308) is absent.
std::optional<Date> hermesEpochSeconds(double seconds);

// The same for a database text: the whole text must be a decimal number.
std::optional<Date> hermesEpochSecondsFromText(std::string_view text);

// A base-10 integer with an optional sign making up the whole text.
std::optional<int64_t> parseWholeInteger(std::string_view text);

// A JSON integer: an integral number, or text that is wholly a base-10
// integer. Booleans, fractions and numbers beyond 64 bits are absent.
std::optional<int64_t> jsonIntValue(simdjson::dom::element value);

// A JSON number, or text that is wholly a number. Booleans are absent.
std::optional<double> jsonDoubleValue(simdjson::dom::element value);

// A JSON text with at least one character.
std::optional<std::string> jsonNonEmptyString(simdjson::dom::element value);

// The member `key` of a JSON object, absent when missing.
std::optional<simdjson::dom::element> jsonMember(simdjson::dom::object object, std::string_view key);

// The last `byteCount` bytes of a regular file (the whole file when it is
// smaller), through the safe reader; absent when it cannot be read.
std::optional<std::string> readFileTail(const std::string& path, std::size_t byteCount);

// True when a process with this id exists (kill with signal 0 succeeds or is
// refused with EPERM). Ids outside 1...INT32_MAX are never alive.
bool isHermesProcessAlive(int64_t pid);

// The number of agents a running gateway reports; 0 unless the state is
// exactly "running", at least one agent is active and its process is alive.
int64_t hermesGatewayRunningCount(const std::optional<HermesGatewayState>& gateway);

// True when a command line belongs to a Hermes terminal worker ("tui_gateway.slash_worker").
bool isHermesWorkerCommand(std::string_view command);

// The word after the first "--session-key" word of a command line split at single spaces.
std::optional<std::string> hermesWorkerSessionKey(std::string_view command);

// The first space-separated word of a process-listing line, as a base-10 integer.
std::optional<int64_t> hermesWorkerPID(std::string_view line);

// The workers among the sampled processes, in sample order (the worker test is memoised).
std::vector<HermesLiveWorker> hermesLiveWorkersFromSamples(const std::vector<ProcessResourceSample>& samples);

// The workers among process-listing lines ("PID COMMAND..."), in line order.
std::vector<HermesLiveWorker> hermesLiveWorkersFromCommands(const std::vector<std::string>& lines);

// The summed use of the given processes and all their descendants; absent when
// the set is empty or none of them is sampled.
std::optional<SessionResourceUsage> processTreeUsage(const std::set<int64_t>& pids,
                                                     const std::vector<ProcessResourceSample>& samples);

} // namespace brindleaf
