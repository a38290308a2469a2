#pragma once

#include "core/AgentSession.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/ProviderSnapshot.hpp"
#include "sync/StatusPayload.hpp"
#include "sync/StatusPayloadPrivacy.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// How many stale sessions a provider reports in the payload.
using StaleSessionSource = std::function<int64_t(const ProviderSnapshot&)>;

// The provider snapshot's ignoredStaleSessions as reported.
StaleSessionSource rawStaleSessionSource();
// The stale count less the baselines the user cleared, read again from the
// standard defaults suite at every use.
StaleSessionSource clearedStaleSessionSource();

// One committed snapshot as the privacy-filtered payload. Negative privacy
// limits count as 0.
StatusPayload buildStatusPayload(const AgentStatusSnapshot& snapshot, const std::string& deviceID,
                                 const StatusPayloadPrivacy& privacy, const StaleSessionSource& staleSource);

SessionStatusPayload makeSessionStatusPayload(const AgentSession& session);

// The short form of a session id: the first 8 characters of the last
// "_"-separated segment when there are at least two segments and the last has at
// least 6 characters; else the id when shorter than 11 characters; else its
// first 8 characters.
std::string shortSessionID(std::string_view id);

// The first non-empty line cut to `limit` characters plus "..." when longer.
std::string truncatedFirstLine(std::string_view text, int64_t limit);

// The absolute path with "." and ".." resolved; absent for an empty path.
std::optional<std::string> standardizedPath(std::string_view path);

// The machine's display name used as the payload's deviceID: the pretty host
// name, else the host name, else "mac".
std::string deviceDisplayName();

// The catalog id of a provider display name (compared ignoring case), else
// the name lower-cased with blanks turned into "-".
std::string providerIDForName(const std::string& providerName);

} // namespace brindleaf
