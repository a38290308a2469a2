// The tray icons as images: sizes, tints, the trace and its dot, the cloud
// art and its decoding, and the geometry they are drawn from.
#include "presentation/AnimatedWebPDecoder.hpp"
#include "presentation/StatusIconFactory.hpp"
#include "presentation/StatusIconGeometry.hpp"
#include "tests/presentation/GuiApplication.hpp"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <webp/encode.h>
#include <webp/mux.h>

using namespace brindleaf;
using Style = StatusIconStyle;
using Mode = StatusIconRenderingMode;
using SizeOption = StatusIconSizeOption;

namespace {

// The average colour of the opaque pixels in a rectangle, and their count.
struct Ink {
    int count = 0;
    double hue = -1;
    QColor mean;
};
Ink inkIn(const QImage& image, QRect area) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    long r = 0, g = 0, b = 0;
    Ink ink;
    area = area.intersected(argb.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() < 200) continue;
            ++ink.count;
            r += c.red();
            g += c.green();
            b += c.blue();
        }
    if (ink.count) {
        ink.mean =
            QColor(static_cast<int>(r / ink.count), static_cast<int>(g / ink.count), static_cast<int>(b / ink.count));
        ink.hue = ink.mean.hueF() * 360;
    }
    return ink;
}

// An animated WebP of `count` frames, each a filled square at a different place.
std::string makeAnimation(int width, int height, int count) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 0);
        for (int y = 2; y < 6; ++y)
            for (int x = i % (width - 4); x < i % (width - 4) + 4; ++x) {
                auto* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = 200, p[3] = 255;
            }
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.use_argb = 1;
        picture.width = width;
        picture.height = height;
        WebPPictureImportRGBA(&picture, rgba.data(), width * 4);
        WebPAnimEncoderAdd(encoder, &picture, i * 100, &config);
        WebPPictureFree(&picture);
    }
    WebPAnimEncoderAdd(encoder, nullptr, count * 100, nullptr);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(encoder, &data);
    std::string bytes(reinterpret_cast<const char*>(data.bytes), data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return bytes;
}

} // namespace

TEST(StatusIconFactory, SizesTemplateFlagAndIdentityPerCombination) {
    brindleaf::testing::ensureGuiApplication();
    struct Case {
        Style style;
        SizeOption size;
        QSize points;
    } cases[] = {
        {Style::pulse, SizeOption::small, {20, 14}},  {Style::pulse, SizeOption::medium, {23, 16}},
        {Style::pulse, SizeOption::large, {28, 19}},  {Style::cloud, SizeOption::small, {22, 18}},
        {Style::cloud, SizeOption::medium, {30, 24}}, {Style::cloud, SizeOption::large, {36, 28}},
    };
    for (const auto& c : cases)
        for (Mode mode : allStatusIconRenderingModes) {
            const auto& set = StatusIconFactory::iconSet(c.style, mode, c.size);
            const bool isTemplate = c.style == Style::pulse && mode == Mode::monochrome;
            EXPECT_EQ(set.isTemplate, isTemplate);
            EXPECT_EQ(set.frameInterval, 0.1);
            EXPECT_EQ(set.running.size(), c.style == Style::pulse ? 16u : 16u);
            std::vector<StatusIconImageRef> all = set.running;
            all.push_back(set.idle);
            all.push_back(set.waiting);
            for (const auto& image : all) {
                EXPECT_EQ(image->pointSize, c.points);
                EXPECT_EQ(image->at1x.size(), c.points);
                EXPECT_EQ(image->at2x.size(), c.points * 2);
                EXPECT_EQ(image->at2x.devicePixelRatio(), 2);
                EXPECT_EQ(image->isTemplate, isTemplate);
            }
            EXPECT_EQ(set.running[3]->accessibleDescription, "Brindleaf: Working");
            EXPECT_EQ(set.idle->accessibleDescription, "Brindleaf: Idle");
            EXPECT_EQ(set.waiting->accessibleDescription, "Brindleaf: Waiting for You");
            // Asking again gives the very same images.
            const auto& again = StatusIconFactory::iconSet(c.style, mode, c.size);
            EXPECT_EQ(again.running[5], set.running[5]);
            EXPECT_EQ(again.idle, set.idle);
        }
}

TEST(StatusIconFactory, ColourPulseTraceDotAndPhase) {
    brindleaf::testing::ensureGuiApplication();
    const auto set = StatusIconFactory::buildIconSet(Style::pulse, Mode::color, SizeOption::large);
    const QImage running = set.running[0]->at2x;
    const Ink trace = inkIn(running, running.rect());
    ASSERT_GT(trace.count, 50);
    EXPECT_NEAR(trace.hue, 229, 8); // the running blue (0.3, 0.42, 0.96)
    const Ink idle = inkIn(set.idle->at2x, set.idle->at2x.rect());
    EXPECT_LT(idle.mean.saturationF(), 0.1); // grey

    // The waiting dot is orange and sits in the top right corner (y-down).
    const QImage waiting = set.waiting->at2x;
    const int d = static_cast<int>(0.42 * 19 * 2);
    const Ink corner = inkIn(waiting, QRect(waiting.width() - d + 3, 3, d - 6, d - 6));
    ASSERT_GT(corner.count, 10);
    EXPECT_NEAR(corner.hue, 35, 6);
    EXPECT_EQ(inkIn(waiting, QRect(waiting.width() - d + 3, waiting.height() - d + 3, d - 6, d - 6)).hue, -1);

    // Frame 15 is frame 0 slid left by a sixteenth of the width.
    const QImage first = set.running[0]->at2x.convertToFormat(QImage::Format_ARGB32);
    const QImage last = set.running[15]->at2x.convertToFormat(QImage::Format_ARGB32);
    EXPECT_NE(first, last);
    const int shift = static_cast<int>(std::lround(28.0 * 2 / 16)); // 3.5 px, rounded
    int compared = 0, differing = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 4; x + shift < first.width() - 4; ++x) {
            ++compared;
            if (std::abs(qAlpha(first.pixel(x, y)) - qAlpha(last.pixel(x + shift, y))) > 140) ++differing;
        }
    EXPECT_LT(differing, compared / 50);
}

TEST(StatusIconFactory, MonochromePulseIsBlackAndTintsForThePanel) {
    brindleaf::testing::ensureGuiApplication();
    const auto& set = StatusIconFactory::iconSet(Style::pulse, Mode::monochrome, SizeOption::medium);
    EXPECT_EQ(inkIn(set.running[0]->at1x, set.running[0]->at1x.rect()).mean, QColor(Qt::black));
    const auto dark = tintedForPanel(set.running[0], Appearance::dark);
    EXPECT_FALSE(dark->isTemplate);
    const QImage argb = dark->at2x.convertToFormat(QImage::Format_ARGB32);
    int maxAlpha = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            maxAlpha = std::max(maxAlpha, qAlpha(argb.pixel(x, y)));
            if (qAlpha(argb.pixel(x, y)) > 200) {
                EXPECT_EQ(qRed(argb.pixel(x, y)), 255);
            }
        }
    EXPECT_NEAR(maxAlpha, 217, 2); // white at 85 %
    const auto colour = StatusIconFactory::iconSet(Style::pulse, Mode::color, SizeOption::medium).running[0];
    EXPECT_EQ(tintedForPanel(colour, Appearance::dark), colour);
}

TEST(StatusIconFactory, CloudWithoutArtFallsBackToThePulseIdle) {
    brindleaf::testing::ensureGuiApplication();
    const auto none = [](const QString&) -> std::optional<QByteArray> { return std::nullopt; };
    const auto set = StatusIconFactory::buildIconSet(Style::cloud, Mode::color, SizeOption::small, none);
    EXPECT_FALSE(set.isTemplate);
    EXPECT_EQ(set.idle->pointSize, QSize(20, 14));
    EXPECT_EQ(set.waiting->pointSize, QSize(20, 14));
    ASSERT_EQ(set.running.size(), 1u);
    EXPECT_EQ(set.running[0], set.idle);
}

TEST(StatusIconFactory, CloudWorkingAndIdleShareOneCrop) {
    brindleaf::testing::ensureGuiApplication();
    // The working art sits left, the idle art right; both are cropped to their union.
    const auto loader = [](const QString& name) -> std::optional<QByteArray> {
        const std::string bytes = makeAnimation(40, 40, name.contains("working") ? 2 : 1);
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    };
    const auto set = StatusIconFactory::buildIconSet(Style::cloud, Mode::monochrome, SizeOption::medium, loader);
    EXPECT_EQ(set.running.size(), 2u);
    EXPECT_EQ(set.idle->pointSize, QSize(30, 24));
    // Frame 0 (x 0-3) and frame 1 (x 1-4) with idle (x 0-3): the union is 5 x 4
    // pixels, fitted into 30 x 24: the ink fills the box's width.
    const Ink ink = inkIn(set.running[1]->at1x, QRect(0, 0, 30, 24));
    EXPECT_GT(ink.count, 30 * 10);
}

// The tray's sets: each image of the real-size set, pixel for pixel, in the
// middle of the style's canvas; its flags, texts and identities kept.
TEST(StatusIconFactory, TraySetsPutEveryImageUnscaledOnTheStylesCanvas) {
    brindleaf::testing::ensureGuiApplication();
    for (Style style : allStatusIconStyles)
        for (SizeOption size : allStatusIconSizeOptions) {
            const auto& source = StatusIconFactory::iconSet(style, Mode::monochrome, size);
            const auto& tray = StatusIconFactory::trayIconSet(style, Mode::monochrome, size);
            const auto canvas = StatusIconGeometry::trayCanvas(style);
            EXPECT_EQ(&StatusIconFactory::trayIconSet(style, Mode::monochrome, size), &tray);
            EXPECT_EQ(tray.isTemplate, source.isTemplate);
            EXPECT_EQ(tray.frameInterval, source.frameInterval);
            ASSERT_EQ(tray.running.size(), source.running.size());
            EXPECT_EQ(tray.running.front() == tray.idle, source.running.front() == source.idle);
            const std::pair<StatusIconImageRef, StatusIconImageRef> pairs[] = {
                {source.idle, tray.idle}, {source.waiting, tray.waiting}, {source.running[7], tray.running[7]}};
            for (const auto& [from, to] : pairs) {
                EXPECT_EQ(to->pointSize, QSize(canvas.width, canvas.height));
                EXPECT_EQ(to->isTemplate, from->isTemplate);
                EXPECT_EQ(to->accessibleDescription, from->accessibleDescription);
                for (int ratio : {1, 2}) {
                    const QImage& a = from->forRatio(ratio);
                    const QImage& b = to->forRatio(ratio);
                    EXPECT_EQ(b.size(), QSize(canvas.width, canvas.height) * ratio);
                    EXPECT_EQ(b.devicePixelRatio(), ratio);
                    const auto at = StatusIconGeometry::trayPlacement(a.width(), a.height(), b.width(), b.height());
                    EXPECT_EQ(b.copy(at.x, at.y, a.width(), a.height()).convertToFormat(QImage::Format_ARGB32),
                              a.convertToFormat(QImage::Format_ARGB32))
                        << toString(style) << " " << toString(size) << " at " << ratio << "x";
                }
            }
        }
}

TEST(AnimatedWebPDecoder, BoundsAndTruncation) {
    const std::string whole = makeAnimation(16, 16, 5);
    const auto decoded = AnimatedWebPDecoder::decode(whole);
    EXPECT_EQ(decoded.width, 16);
    EXPECT_EQ(decoded.canvases.size(), 5u);
    // Cut in the middle of the last frame: the whole frames before it stay.
    const auto cut = AnimatedWebPDecoder::decode(whole.substr(0, whole.size() - 10));
    EXPECT_GE(cut.canvases.size(), 3u);
    EXPECT_LT(cut.canvases.size(), 5u);
    if (!cut.canvases.empty()) {
        EXPECT_EQ(cut.canvases[0], decoded.canvases[0]);
    }
    EXPECT_TRUE(AnimatedWebPDecoder::decode(whole.substr(0, 20)).canvases.empty());
    EXPECT_TRUE(AnimatedWebPDecoder::decode("not a webp file at all").canvases.empty());
    EXPECT_TRUE(AnimatedWebPDecoder::decode(makeAnimation(1025, 8, 1)).canvases.empty());
    EXPECT_EQ(AnimatedWebPDecoder::decode(makeAnimation(1024, 8, 1)).canvases.size(), 1u);
    EXPECT_EQ(AnimatedWebPDecoder::decode(makeAnimation(8, 8, 300)).canvases.size(), 256u);
}

TEST(StatusIconGeometry, OpaqueBoundsAndSharedCrop) {
    std::vector<std::uint8_t> a(8 * 6 * 4, 0), b(8 * 6 * 4, 0);
    auto alpha = [](std::vector<std::uint8_t>& px, int x, int y, int value) { px[(y * 8 + x) * 4 + 3] = value; };
    alpha(a, 1, 1, 9);
    alpha(a, 6, 0, 8); // alpha 8 does not count
    alpha(b, 3, 4, 255);
    using G = StatusIconGeometry::PixelRect;
    EXPECT_EQ(StatusIconGeometry::opaqueBounds(a.data(), 8, 6, 32), (G{1, 1, 1, 1}));
    const StatusIconGeometry::FramePixels fa{a.data(), 8, 6, 32}, fb{b.data(), 8, 6, 32};
    EXPECT_EQ(StatusIconGeometry::sharedOpaqueBounds({fa, fb}), (G{1, 1, 3, 4}));
    EXPECT_EQ(StatusIconGeometry::sharedOpaqueBounds({fa, {b.data(), 4, 6, 16}}), std::nullopt);
    std::vector<std::uint8_t> full(8 * 6 * 4, 255);
    EXPECT_EQ(StatusIconGeometry::sharedOpaqueBounds({{full.data(), 8, 6, 32}}), std::nullopt);
    const auto placed = StatusIconGeometry::fittedRect(10, 10, 30, 24);
    EXPECT_EQ(placed, (StatusIconGeometry::Rect{3, 0, 24, 24}));
}

TEST(StatusIconGeometry, EverySizeGoesToTheTrayOnTheLargeSizesCanvas) {
    using S = StatusIconGeometry::Size;
    EXPECT_EQ(StatusIconGeometry::trayCanvas(Style::pulse), (S{28, 19}));
    EXPECT_EQ(StatusIconGeometry::trayCanvas(Style::cloud), (S{36, 28}));
    using P = StatusIconGeometry::PixelRect;
    const struct {
        int w, h, cw, ch;
        P placed;
    } cases[] = {
        {20, 14, 28, 19, {4, 3, 20, 14}},   // pulse small at 1x: 2.5 rounds away from zero
        {40, 28, 56, 38, {8, 5, 40, 28}},   // and at 2x, exactly centred
        {23, 16, 28, 19, {3, 2, 23, 16}},   // pulse medium: 2.5 and 1.5
        {46, 32, 56, 38, {5, 3, 46, 32}},   // at 2x
        {28, 19, 28, 19, {0, 0, 28, 19}},   // the large size fills the canvas
        {22, 18, 36, 28, {7, 5, 22, 18}},   // cloud small
        {20, 14, 36, 28, {8, 7, 20, 14}},   // the pulse idle a cloud set falls back to
        {30, 20, 28, 19, {-1, -1, 30, 20}}, // larger than the canvas: centred, cut by it
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusIconGeometry::trayPlacement(c.w, c.h, c.cw, c.ch), c.placed) << c.w << "x" << c.h;
}
