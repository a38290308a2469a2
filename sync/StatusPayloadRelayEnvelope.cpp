#include "sync/StatusPayloadRelayEnvelope.hpp"

#include "sync/StatusPayloadCodec.hpp"

namespace brindleaf::StatusPayloadRelayEnvelope {

namespace {

bool isTrue(const RelayMessage& message, const char* key) {
    auto it = message.find(key);
    if (it == message.end()) return false;
    const bool* flag = std::get_if<bool>(&it->second);
    return flag && *flag;
}

} // namespace

RelayMessage requestMessage() { return {{"requestCurrentStatus", true}}; }

bool isRequest(const RelayMessage& message) { return isTrue(message, "requestCurrentStatus"); }

RelayMessage message(const std::optional<StatusPayload>& payload) {
    if (!payload) return {{"clear", true}};
    return {{"payloadData", RelayBytes{StatusPayloadCodec::encode(*payload)}}};
}

std::optional<StatusPayload> payload(const RelayMessage& message) {
    if (isTrue(message, "clear")) return std::nullopt;
    auto it = message.find("payloadData");
    if (it == message.end()) return std::nullopt;
    const auto* bytes = std::get_if<RelayBytes>(&it->second);
    if (!bytes) return std::nullopt;
    return StatusPayloadCodec::decodePayload(bytes->bytes);
}

} // namespace brindleaf::StatusPayloadRelayEnvelope
