#pragma once

#include "sync/StatusPayload.hpp"

#include <string>

namespace brindleaf {

// A compact text of the payload's user-visible content: the sync controller
// saves again when it changes. Check times, the device, provider names, error
// texts and several session details are left out on purpose.
std::string syncSignature(const StatusPayload& payload);

} // namespace brindleaf
