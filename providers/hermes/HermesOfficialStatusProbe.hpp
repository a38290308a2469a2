#pragma once

#include "core/Date.hpp"
#include "providers/hermes/HermesOfficialSession.hpp"

#include <string>
#include <vector>

namespace brindleaf {

// A source of sessions that Hermes itself reports. A probe may throw; the
// provider then stops asking it for a while.
class HermesOfficialStatusProbe {
public:
    virtual ~HermesOfficialStatusProbe() = default;
    virtual std::vector<HermesOfficialSession> sessions(Date now, const std::string& hermesHome) = 0;
};

// The probe in use: Hermes offers no status endpoint, so it reports nothing.
class HermesDefaultOfficialStatusProbe final : public HermesOfficialStatusProbe {
public:
    std::vector<HermesOfficialSession> sessions(Date, const std::string&) override { return {}; }
};

} // namespace brindleaf
