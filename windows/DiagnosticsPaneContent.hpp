#pragma once

#include "core/ProviderDescriptor.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

class StatusDashboardModel;

// What the Diagnostics settings pane says and decides.
namespace DiagnosticsPaneContent {

inline constexpr std::string_view staleHeader = "Hidden Stale Sessions";
inline constexpr std::string_view staleFooter =
    "Sessions that stopped mid-task — for example because the agent quit — and are no longer shown as running.";
inline constexpr std::string_view resetCountTitle = "Reset Count";
inline constexpr std::string_view errorsHeader = "Errors";
inline constexpr std::string_view errorsFooter = "Problems reading an agent’s status. Marking them as read hides the "
                                                 "warning in the tray panel until the problem changes.";
inline constexpr std::string_view noErrorsText = "No errors.";
inline constexpr std::string_view newMark = "New";
inline constexpr std::string_view markAllTitle = "Mark All as Read";
inline constexpr std::string_view debugLoggingTitle = "Debug Logging";
inline constexpr std::string_view debugLoggingFooter =
    "Writes every refresh to the system journal (journalctl -t brindleaf), for a bug report. Also on while "
    "BRINDLEAF_DEBUG=1 is set.";
inline constexpr std::string_view sampleDataTitle = "Show Sample Data";
inline constexpr std::string_view sampleDataFooter = "Shows sample sessions instead of your own, until you turn this "
                                                     "off or quit Brindleaf. Sample data is never synced.";

struct ErrorItem {
    std::string id; // provider id, "-", position in the provider's list, "-", the text
    std::string providerName;
    std::string message;
    bool isRead = false;

    bool operator==(const ErrorItem&) const = default;
};

// One hidden-stale-count row: an enabled provider and its count as text.
struct StaleRow {
    std::string providerID;
    std::string providerName;
    std::string count;

    bool operator==(const StaleRow&) const = default;
};

// Everything the pane shows. The pane compares it with what it shows now and
// changes nothing when the two are equal, so a poll that brings the same
// state keeps a selection, the focus and a press on a button.
struct Shown {
    std::vector<StaleRow> staleRows;
    bool canResetCount = false;
    std::vector<ErrorItem> errors; // none: "No errors." and no "Mark All as Read"
    bool canMarkAllAsRead = false; // some error is not read yet
    bool isShowingSampleData = false;

    bool operator==(const Shown&) const = default;
};

// The hidden stale count of an enabled provider as text ("0" without a snapshot).
std::string hiddenStaleCountText(const StatusDashboardModel& model, const ProviderDescriptor& provider);
// The displayed errors of the enabled providers whose folders may be read, in order.
std::vector<ErrorItem> errorItems(const StatusDashboardModel& model);
// What the pane shows for the model's displayed snapshot and the settings.
Shown shown(const StatusDashboardModel& model);
// Acknowledges every listed error, per provider.
void markAllAsRead(const StatusDashboardModel& model);

} // namespace DiagnosticsPaneContent

} // namespace brindleaf
