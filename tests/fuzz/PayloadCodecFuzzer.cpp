// The status payload codec: any bytes decode or fail with the codec's error,
// and every decoded payload or privacy record encodes and decodes again.
#include "sync/StatusPayloadCodec.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    try {
        const StatusPayload payload = StatusPayloadCodec::decodePayload(input);
        std::string first;
        try {
            first = StatusPayloadCodec::encode(payload);
        } catch (const StatusPayloadCodecError&) {
            fuzz::fail("a decoded payload does not encode");
        }
        const StatusPayload again = StatusPayloadCodec::decodePayload(first);
        if (StatusPayloadCodec::encode(again) != first) fuzz::fail("a payload's encoding is not stable");
    } catch (const StatusPayloadCodecError&) {
    }
    try {
        const StatusPayloadPrivacy privacy = StatusPayloadCodec::decodePrivacy(input);
        if (!(StatusPayloadCodec::decodePrivacy(StatusPayloadCodec::encode(privacy)) == privacy))
            fuzz::fail("a privacy record does not round-trip");
    } catch (const StatusPayloadCodecError&) {
    }
    return 0;
}
