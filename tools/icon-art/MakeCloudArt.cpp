// Draws the cloud art of the tray icon and writes it as four animated WebP
// files: cloud-working-color, cloud-working-gray, cloud-idle-color and
// cloud-idle-gray (.webp) in the folder given. Run at build time; the files
// are build outputs compiled into the application.
//
//   brindleaf-make-cloud-art OUTPUT_DIR
//
// The cloud is a union of circles over a rounded base, anti-aliased from its
// signed distance; a soft highlight band sweeps across it (quickly while
// working, slowly while idle). The canvas keeps transparent margins around
// the cloud, which the icon factory crops away.
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int canvasWidth = 96;
constexpr int canvasHeight = 80;

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Signed distance (pixels; negative inside) to the cloud outline.
double cloudDistance(double x, double y) {
    struct Circle {
        double cx, cy, r;
    };
    static const Circle circles[] = {{34, 46, 14}, {50, 36, 19}, {66, 46, 13}, {42, 40, 12}};
    double d = 1e9;
    for (const auto& c : circles) d = std::min(d, std::hypot(x - c.cx, y - c.cy) - c.r);
    // The flat bottom: a rounded box from x 22 to 78, y 40 to 60, radius 10.
    const double bx = std::fabs(x - 50) - 18, by = std::fabs(y - 50) - 0;
    const double box = std::hypot(std::max(bx, 0.0), std::max(by, 0.0)) + std::min(std::max(bx, by), 0.0) - 10;
    return std::min(d, box);
}

// One frame: `sweep` in [0, 1) is where the highlight band is across the cloud.
std::vector<std::uint8_t> drawFrame(bool colour, double sweep, double highlightStrength) {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(canvasWidth) * canvasHeight * 4, 0);
    const Colour top = colour ? Colour{0.45, 0.78, 1.0} : Colour{0.72, 0.72, 0.74};
    const Colour bottom = colour ? Colour{0.16, 0.45, 0.96} : Colour{0.42, 0.42, 0.45};
    const Colour edge = colour ? Colour{0.08, 0.30, 0.78} : Colour{0.28, 0.28, 0.30};
    const Colour white{1, 1, 1};
    const double bandCentre = 10 + sweep * 100; // from left of the cloud to past its right
    for (int py = 0; py < canvasHeight; ++py) {
        for (int px = 0; px < canvasWidth; ++px) {
            const double x = px + 0.5, y = py + 0.5;
            const double d = cloudDistance(x, y);
            const double alpha = std::clamp(0.5 - d, 0.0, 1.0);
            if (alpha <= 0) continue;
            const double vertical = std::clamp((y - 18) / 44.0, 0.0, 1.0);
            Colour c = mix(top, bottom, vertical);
            // A diagonal band of light.
            const double along = (x + 0.5 * y) - bandCentre - 20;
            const double band = std::exp(-(along * along) / (2 * 9.0 * 9.0));
            c = mix(c, white, band * highlightStrength);
            // A darker rim just inside the outline.
            const double rim = std::clamp(1.0 - (-d) / 2.0, 0.0, 1.0);
            c = mix(c, edge, rim * 0.6);
            auto* p = &rgba[(static_cast<std::size_t>(py) * canvasWidth + px) * 4];
            p[0] = static_cast<std::uint8_t>(std::lround(std::clamp(c.r, 0.0, 1.0) * 255));
            p[1] = static_cast<std::uint8_t>(std::lround(std::clamp(c.g, 0.0, 1.0) * 255));
            p[2] = static_cast<std::uint8_t>(std::lround(std::clamp(c.b, 0.0, 1.0) * 255));
            p[3] = static_cast<std::uint8_t>(std::lround(alpha * 255));
        }
    }
    return rgba;
}

bool writeAnimation(const std::string& path, bool colour, int frameCount, int frameMilliseconds,
                    double highlightStrength) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) return false;
    options.anim_params.loop_count = 0;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(canvasWidth, canvasHeight, &options);
    if (!encoder) return false;
    WebPConfig config;
    if (!WebPConfigInit(&config)) return false;
    config.lossless = 1;
    config.quality = 75;
    bool ok = true;
    int timestamp = 0;
    for (int i = 0; i < frameCount && ok; ++i) {
        const auto pixels = drawFrame(colour, static_cast<double>(i) / frameCount, highlightStrength);
        WebPPicture picture;
        if (!WebPPictureInit(&picture)) return false;
        picture.use_argb = 1;
        picture.width = canvasWidth;
        picture.height = canvasHeight;
        ok = WebPPictureImportRGBA(&picture, pixels.data(), canvasWidth * 4) &&
             WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += frameMilliseconds;
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &assembled);
    WebPAnimEncoderDelete(encoder);
    if (ok) {
        FILE* file = std::fopen(path.c_str(), "wb");
        ok = file && std::fwrite(assembled.bytes, 1, assembled.size, file) == assembled.size;
        if (file) ok = std::fclose(file) == 0 && ok;
    }
    WebPDataClear(&assembled);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: brindleaf-make-cloud-art OUTPUT_DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    struct Art {
        const char* name;
        bool colour;
        int frames;
        int milliseconds;
        double highlight;
    } art[] = {
        {"cloud-working-color", true, 16, 100, 0.75},
        {"cloud-working-gray", false, 16, 100, 0.75},
        {"cloud-idle-color", true, 8, 250, 0.25},
        {"cloud-idle-gray", false, 8, 250, 0.25},
    };
    for (const auto& a : art) {
        const std::string path = folder + "/" + a.name + ".webp";
        if (!writeAnimation(path, a.colour, a.frames, a.milliseconds, a.highlight)) {
            std::fprintf(stderr, "brindleaf-make-cloud-art: could not write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
