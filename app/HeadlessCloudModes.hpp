#pragma once

#include "core/AgentStatusService.hpp"
#include "sync/StatusPayload.hpp"

#include <string>

namespace brindleaf {

// The command-line modes that print, push and fetch the companion payload.
// Each writes its output to standard output (one line) and returns the exit
// status: 0 on success; on failure nothing is written to standard output, one
// message goes to standard error, and the status is 1.
namespace HeadlessCloudModes {

// "--dump-status-json": the payload of one snapshot with the stale counts as reported.
int dumpStatusJSON(AgentStatusService& service);
// "--sync-status-now": saves the payload (stale counts less the cleared
// baselines) to the cloud record and prints "synced checkedAt=... active=N".
int syncStatusNow(AgentStatusService& service);
// "--fetch-cloud-status-json": prints the stored payload.
int fetchCloudStatusJSON();

// What the cloud modes print without the CloudKit entitlement (two lines).
extern const char* const missingEntitlementMessage;

// The success line of "--sync-status-now", without the line break.
std::string syncedLine(const StatusPayload& payload);

} // namespace HeadlessCloudModes

} // namespace brindleaf
