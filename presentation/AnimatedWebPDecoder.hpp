#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brindleaf {

// The frames of an animated (or still) WebP image as full RGBA canvases,
// decoded with libwebp's animation decoder. Bounded: a canvas over
// 1024 x 1024 gives no frames, and at most 256 frames are kept. A truncated
// file keeps every frame that arrived whole.
class AnimatedWebPDecoder {
public:
    static constexpr int maxCanvasSide = 1024;
    static constexpr std::size_t maxFrames = 256;

    struct Frames {
        int width = 0;
        int height = 0;
        // One RGBA canvas per frame, width x height x 4 bytes, rows top first,
        // colours not premultiplied.
        std::vector<std::vector<std::uint8_t>> canvases;
    };

    static Frames decode(const std::uint8_t* data, std::size_t size);
    static Frames decode(const std::string& bytes) {
        return decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

} // namespace brindleaf
