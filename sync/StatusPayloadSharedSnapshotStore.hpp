#pragma once

#include "core/Date.hpp"
#include "platform/UserDefaults.hpp"
#include "sync/StatusPayload.hpp"

#include <memory>
#include <optional>
#include <string>

namespace brindleaf {

// The last payload kept in the app-group defaults suite for the companion's
// widgets. The suite is absent when it cannot be opened.
class StatusPayloadSharedSnapshotStore {
public:
    static constexpr const char* appGroupSuiteName = "group.com.quorvale.Brindleaf";
    static constexpr const char* defaultPayloadKey = "currentStatusPayload";

    explicit StatusPayloadSharedSnapshotStore(const std::string& suiteName = appGroupSuiteName);
    StatusPayloadSharedSnapshotStore(std::shared_ptr<UserDefaults> defaults, std::string payloadKey);

    bool hasSuite() const { return defaults_ != nullptr; }
    const std::string& payloadKey() const { return payloadKey_; }

    // Stores the payload's JSON (or removes it when absent); false without a
    // suite, when encoding fails, or when the suite could not be written.
    bool save(const std::optional<StatusPayload>& payload);
    // The stored payload; absent when there is none or it does not decode.
    std::optional<StatusPayload> load() const;
    // As load(), but absent when the payload was checked more than maxAge before now.
    std::optional<StatusPayload> loadIfFresh(Date now, double maxAge) const;

private:
    std::shared_ptr<UserDefaults> defaults_;
    std::string payloadKey_;
};

} // namespace brindleaf
