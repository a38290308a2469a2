#pragma once

#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/SessionResourceUsage.hpp"
#include "presentation/StatusLine.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// The program's entry: runs the first headless mode the arguments name, or
// the tray application.
namespace BrindleafBarApp {

// The headless modes, in the order they are looked for.
inline constexpr std::string_view selfTestSettingsMigrationFlag = "--self-test-settings-migration";
inline constexpr std::string_view dumpStatusFlag = "--dump-status";
inline constexpr std::string_view dumpStatusJSONFlag = "--dump-status-json";
inline constexpr std::string_view syncStatusNowFlag = "--sync-status-now";
inline constexpr std::string_view fetchCloudStatusJSONFlag = "--fetch-cloud-status-json";
// Also as "--watch=json" or "--watch=text".
inline constexpr std::string_view watchFlag = "--watch";

enum class HeadlessMode {
    selfTestSettingsMigration,
    dumpStatus,
    dumpStatusJSON,
    syncStatusNow,
    fetchCloudStatusJSON,
    watch
};

// The first mode, in the order above, that some argument (argument 0
// included) names: equals exactly, or for --watch, equals it or begins with
// "--watch=" (whatever the value; see watchFormat).
std::optional<HeadlessMode> headlessMode(const std::vector<std::string>& arguments);

// Whether the argument names the --watch mode, with a value or without.
bool isWatchArgument(std::string_view argument);
// The format of the first argument naming --watch: json without a value,
// else the value's ("json", "text"); nothing for any other value, and for
// arguments without --watch.
std::optional<StatusLine::Format> watchFormat(const std::vector<std::string>& arguments);

// Runs the headless mode the arguments name, ending the process itself
// (flushing standard output first). The executable starts the tray
// application (app/shell) instead when no headless mode is named.
int main(int argc, char** argv);

// The settings self-test: the enabled providers a fresh store derives from a
// throwaway suite that holds only ["codex"], joined by ","; "failed" when no
// suite can be opened. The suite is removed afterwards.
std::string selfTestSettingsMigration();

// The text dump of a snapshot: the state, "active=" and the count, then one
// line of 11 tab-separated fields per active session. Every line ends with "\n".
std::string statusDump(const AgentStatusSnapshot& snapshot);
std::string sessionLine(const AgentSession& session);

// "pid=4242 cpu=12.5% mem=301MB procs=3"; empty without usage.
std::string processSummary(const std::optional<SessionResourceUsage>& usage);
// "12.5%" from 0.1 on, else per mille: "0.500‰".
std::string formatCPUPercent(double value);
// "1023B", "1KB", "301MB", "1.0GB".
std::string formatByteCount(std::int64_t bytes);

} // namespace BrindleafBarApp

} // namespace brindleaf
