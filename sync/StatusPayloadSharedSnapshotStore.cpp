#include "sync/StatusPayloadSharedSnapshotStore.hpp"

#include "sync/StatusPayloadCodec.hpp"
#include "sync/StatusPayloadFreshness.hpp"

namespace brindleaf {

StatusPayloadSharedSnapshotStore::StatusPayloadSharedSnapshotStore(const std::string& suiteName)
    : defaults_(UserDefaults::open(suiteName)), payloadKey_(defaultPayloadKey) {}

StatusPayloadSharedSnapshotStore::StatusPayloadSharedSnapshotStore(std::shared_ptr<UserDefaults> defaults,
                                                                   std::string payloadKey)
    : defaults_(std::move(defaults)), payloadKey_(std::move(payloadKey)) {}

bool StatusPayloadSharedSnapshotStore::save(const std::optional<StatusPayload>& payload) {
    if (!defaults_) return false;
    if (!payload) return defaults_->remove(payloadKey_);
    std::string data;
    try {
        data = StatusPayloadCodec::encode(*payload);
    } catch (const StatusPayloadCodecError&) {
        return false;
    }
    return defaults_->set(payloadKey_, DefaultsValue::data(data));
}

std::optional<StatusPayload> StatusPayloadSharedSnapshotStore::load() const {
    if (!defaults_) return std::nullopt;
    auto data = defaults_->data(payloadKey_);
    if (!data) return std::nullopt;
    try {
        return StatusPayloadCodec::decodePayload(*data);
    } catch (const StatusPayloadCodecError&) {
        return std::nullopt;
    }
}

std::optional<StatusPayload> StatusPayloadSharedSnapshotStore::loadIfFresh(Date now, double maxAge) const {
    auto payload = load();
    if (!payload || isStatusPayloadStale(*payload, now, maxAge)) return std::nullopt;
    return payload;
}

} // namespace brindleaf
