#include "presentation/AnimatedWebPDecoder.hpp"

#include <webp/demux.h>

#include <cstring>
#include <memory>

namespace brindleaf {

namespace {

struct DemuxerDeleter {
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

bool canvasTooLarge(std::uint32_t width, std::uint32_t height) {
    return width < 1 || height < 1 || width > AnimatedWebPDecoder::maxCanvasSide ||
           height > AnimatedWebPDecoder::maxCanvasSide;
}

void decodeWhole(const std::uint8_t* data, std::size_t size, AnimatedWebPDecoder::Frames& frames) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData input{data, size};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&input, &options));
    if (!decoder) return;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || canvasTooLarge(info.canvas_width, info.canvas_height)) return;
    frames.width = static_cast<int>(info.canvas_width);
    frames.height = static_cast<int>(info.canvas_height);
    const std::size_t bytes = static_cast<std::size_t>(frames.width) * static_cast<std::size_t>(frames.height) * 4;
    while (frames.canvases.size() < AnimatedWebPDecoder::maxFrames && WebPAnimDecoderHasMoreFrames(decoder.get())) {
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) break;
        frames.canvases.emplace_back(canvas, canvas + bytes);
    }
}

// The length of the file's prefix that holds the header chunks and every
// frame that arrived whole, or 0 when there is none. Only that prefix is then
// handed to the animation decoder, with its RIFF size set to match.
std::size_t completePrefix(const std::uint8_t* data, std::size_t size, std::uint32_t& canvasWidth,
                           std::uint32_t& canvasHeight) {
    WebPData input{data, size};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    std::unique_ptr<WebPDemuxer, DemuxerDeleter> demuxer(WebPDemuxPartial(&input, &state));
    if (!demuxer || state < WEBP_DEMUX_PARSED_HEADER) return 0;
    canvasWidth = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH);
    canvasHeight = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT);
    std::size_t end = 0;
    WebPIterator iterator;
    if (!WebPDemuxGetFrame(demuxer.get(), 1, &iterator)) return 0;
    std::size_t count = 0;
    do {
        if (!iterator.complete || count >= AnimatedWebPDecoder::maxFrames) break;
        const std::size_t frameEnd = static_cast<std::size_t>(iterator.fragment.bytes - data) + iterator.fragment.size;
        end = frameEnd + (frameEnd & 1); // chunks are padded to an even length
        ++count;
    } while (WebPDemuxNextFrame(&iterator));
    WebPDemuxReleaseIterator(&iterator);
    return end <= size ? end : 0;
}

} // namespace

AnimatedWebPDecoder::Frames AnimatedWebPDecoder::decode(const std::uint8_t* data, std::size_t size) {
    Frames frames;
    if (!data || size < 12) return frames;
    // The canvas is checked before anything is decoded.
    std::uint32_t width = 0, height = 0;
    const std::size_t prefix = completePrefix(data, size, width, height);
    if (canvasTooLarge(width, height)) return frames;
    decodeWhole(data, size, frames);
    if (!frames.canvases.empty() || prefix < 12) return frames;
    // A truncated file: decode the whole frames it holds.
    std::vector<std::uint8_t> copy(data, data + prefix);
    const std::uint32_t riffSize = static_cast<std::uint32_t>(prefix - 8);
    const std::uint8_t le[4] = {static_cast<std::uint8_t>(riffSize), static_cast<std::uint8_t>(riffSize >> 8),
                                static_cast<std::uint8_t>(riffSize >> 16), static_cast<std::uint8_t>(riffSize >> 24)};
    std::memcpy(copy.data() + 4, le, 4);
    frames = Frames();
    decodeWhole(copy.data(), copy.size(), frames);
    return frames;
}

} // namespace brindleaf
