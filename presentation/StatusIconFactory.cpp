#include "presentation/StatusIconFactory.hpp"

#include "presentation/AnimatedWebPDecoder.hpp"
#include "presentation/IconFrameSchedule.hpp"
#include "presentation/StatusIconGeometry.hpp"

#include <QFile>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <map>
#include <string>

namespace brindleaf {

namespace G = StatusIconGeometry;

const QString StatusIconFactory::workingDescription = QStringLiteral("Brindleaf: Working");
const QString StatusIconFactory::idleDescription = QStringLiteral("Brindleaf: Idle");
const QString StatusIconFactory::waitingDescription = QStringLiteral("Brindleaf: Waiting for You");

namespace {

// The fixed colours of the tray art. The panel is not the application's
// window, so the colour icons do not follow the palette: the secondary label
// colour is a mid grey readable on light and dark panels alike.
const QColor runningBlue = QColor::fromRgbF(0.3f, 0.42f, 0.96f, 1.0f);
const QColor secondaryGrey = QColor(142, 142, 147);
const QColor systemOrange = QColor(255, 149, 0);
const QColor badgeGrey = QColor::fromRgbF(0.35f, 0.35f, 0.35f, 1.0f);

// A drawing in points on a y-down painter, made at ratio 1 and 2.
using Drawing = std::function<void(QPainter&, QSizeF)>;

QImage rasterize(QSize points, qreal ratio, const Drawing& draw) {
    QImage image(static_cast<int>(std::ceil(points.width() * ratio)),
                 static_cast<int>(std::ceil(points.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    draw(painter, QSizeF(points));
    return image;
}

StatusIconImageRef makeImage(QSize points, bool isTemplate, QString description, const Drawing& draw) {
    auto image = std::make_shared<StatusIconImage>();
    image->pointSize = points;
    image->at1x = rasterize(points, 1, draw);
    image->at2x = rasterize(points, 2, draw);
    image->isTemplate = isTemplate;
    image->accessibleDescription = std::move(description);
    return image;
}

// y-up rule coordinates to the painter's y-down ones.
QPointF flip(const G::Point& p, double height) { return {p.x, height - p.y}; }
QRectF flip(const G::Rect& r, double height) { return {r.x, height - r.maxY(), r.width, r.height}; }

void drawGlyph(QPainter& painter, StatusIconFactory::Glyph glyph, StatusIconRenderingMode mode, QSizeF size) {
    const G::Rect rect{0, 0, size.width(), size.height()};
    const double w = G::pulseLineWidth(rect.height);
    QColor stroke = Qt::black;
    if (mode == StatusIconRenderingMode::color)
        stroke = glyph.kind == StatusIconFactory::Glyph::Kind::running ? runningBlue : secondaryGrey;

    painter.save();
    painter.setClipRect(flip(G::pulseClip(rect), rect.height));
    QPainterPath path;
    const auto points =
        G::pulseTracePoints(rect, glyph.kind == StatusIconFactory::Glyph::Kind::running ? glyph.phase : 0);
    path.moveTo(flip(points.front(), rect.height));
    for (std::size_t i = 1; i < points.size(); ++i) path.lineTo(flip(points[i], rect.height));
    painter.setPen(QPen(stroke, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.restore();

    if (glyph.kind != StatusIconFactory::Glyph::Kind::waiting) return;
    const QRectF dot = flip(G::pulseWaitingDot(rect), rect.height);
    const double clearance = G::pulseWaitingDotClearance(rect.height);
    painter.setPen(Qt::NoPen);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setBrush(Qt::black);
    painter.drawEllipse(dot.adjusted(-clearance, -clearance, clearance, clearance));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(mode == StatusIconRenderingMode::color ? systemOrange : QColor(Qt::black));
    painter.drawEllipse(dot);
}

QString descriptionFor(StatusIconFactory::Glyph::Kind kind) {
    switch (kind) {
    case StatusIconFactory::Glyph::Kind::running:
        return StatusIconFactory::workingDescription;
    case StatusIconFactory::Glyph::Kind::idle:
        return StatusIconFactory::idleDescription;
    case StatusIconFactory::Glyph::Kind::waiting:
        return StatusIconFactory::waitingDescription;
    }
    return StatusIconFactory::idleDescription;
}

std::vector<QImage> loadAnimationFrames(const StatusIconFactory::ResourceLoader& loader, const QString& name) {
    std::vector<QImage> frames;
    auto bytes = loader(name);
    if (!bytes) return frames;
    const auto decoded = AnimatedWebPDecoder::decode(reinterpret_cast<const std::uint8_t*>(bytes->constData()),
                                                     static_cast<std::size_t>(bytes->size()));
    for (const auto& canvas : decoded.canvases) {
        QImage frame(canvas.data(), decoded.width, decoded.height, decoded.width * 4, QImage::Format_RGBA8888);
        frames.push_back(frame.convertToFormat(QImage::Format_ARGB32_Premultiplied)); // a deep copy
    }
    return frames;
}

std::optional<G::PixelRect> sharedCrop(const std::vector<QImage>& frames) {
    // The alpha test reads straight RGBA bytes.
    std::vector<QImage> straight;
    std::vector<G::FramePixels> pixels;
    straight.reserve(frames.size());
    for (const auto& frame : frames) {
        straight.push_back(frame.convertToFormat(QImage::Format_RGBA8888));
        const QImage& s = straight.back();
        pixels.push_back({s.constBits(), s.width(), s.height(), static_cast<std::size_t>(s.bytesPerLine())});
    }
    return G::sharedOpaqueBounds(pixels);
}

StatusIconImageRef makeCloudFrame(const QImage& frame, const std::optional<G::PixelRect>& crop, G::Size box,
                                  const QString& description) {
    QImage cut = frame;
    if (crop) {
        const QRect r = QRect(crop->x, crop->y, crop->width, crop->height).intersected(frame.rect());
        if (!r.isEmpty()) cut = frame.copy(r);
        if (cut.isNull()) cut = frame;
    }
    const G::Rect placed = G::fittedRect(cut.width(), cut.height(), box.width, box.height);
    return makeImage(QSize(box.width, box.height), false, description, [&](QPainter& painter, QSizeF) {
        painter.drawImage(QRectF(placed.x, placed.y, placed.width, placed.height), cut);
    });
}

StatusIconImageRef makeWaitingBadge(const StatusIconImageRef& base, StatusIconRenderingMode mode) {
    return makeImage(
        base->pointSize, false, StatusIconFactory::waitingDescription, [&](QPainter& painter, QSizeF size) {
            painter.drawImage(QRectF(QPointF(0, 0), size), base->forRatio(painter.device()->devicePixelRatioF()));
            const G::Rect rect{0, 0, size.width(), size.height()};
            const QRectF dot = flip(G::cloudWaitingDot(rect), rect.height);
            const double clearance = G::cloudWaitingDotClearance;
            painter.setPen(Qt::NoPen);
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
            painter.setBrush(Qt::black);
            painter.drawEllipse(dot.adjusted(-clearance, -clearance, clearance, clearance));
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.setBrush(mode == StatusIconRenderingMode::color ? systemOrange : badgeGrey);
            painter.drawEllipse(dot);
        });
}

StatusIconFactory::IconSet makeCloudIconSet(StatusIconRenderingMode mode, StatusIconSizeOption size,
                                            const StatusIconFactory::ResourceLoader& loader) {
    const QString variant = mode == StatusIconRenderingMode::color ? "color" : "gray";
    const G::Size box = G::cloudBox(size);
    const auto working = loadAnimationFrames(loader, "cloud-working-" + variant);
    const auto idleFrames = loadAnimationFrames(loader, "cloud-idle-" + variant);
    std::vector<QImage> all = working;
    all.insert(all.end(), idleFrames.begin(), idleFrames.end());
    const auto crop = sharedCrop(all);

    StatusIconFactory::IconSet set;
    for (const auto& frame : working)
        set.running.push_back(makeCloudFrame(frame, crop, box, StatusIconFactory::workingDescription));
    if (!idleFrames.empty())
        set.idle = makeCloudFrame(idleFrames.front(), crop, box, StatusIconFactory::idleDescription);
    else if (!set.running.empty())
        set.idle = set.running.front(); // keeps the working description
    else
        set.idle = StatusIconFactory::makeGlyphImage({StatusIconFactory::Glyph::Kind::idle, 0}, mode, size);
    set.waiting = makeWaitingBadge(set.idle, mode);
    if (set.running.empty()) set.running.push_back(set.idle);
    set.frameInterval = IconFrameSchedule::defaultInterval;
    set.isTemplate = false;
    return set;
}

// "pulse|monochrome|small": the raw values of the three settings.
std::string cacheKey(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size) {
    return std::string(toString(style)) + "|" + std::string(toString(mode)) + "|" + std::string(toString(size));
}

} // namespace

std::optional<QByteArray> StatusIconFactory::loadCompiledResource(const QString& name) {
    QFile file(QStringLiteral(":/cloud/") + name + QStringLiteral(".webp"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

StatusIconImageRef StatusIconFactory::makeGlyphImage(Glyph glyph, StatusIconRenderingMode mode,
                                                     StatusIconSizeOption size) {
    const G::Size points = G::pulseSize(size);
    return makeImage(QSize(points.width, points.height), mode == StatusIconRenderingMode::monochrome,
                     descriptionFor(glyph.kind),
                     [&](QPainter& painter, QSizeF area) { drawGlyph(painter, glyph, mode, area); });
}

StatusIconFactory::IconSet StatusIconFactory::buildIconSet(StatusIconStyle style, StatusIconRenderingMode mode,
                                                           StatusIconSizeOption size, const ResourceLoader& loader) {
    if (style == StatusIconStyle::cloud) return makeCloudIconSet(mode, size, loader ? loader : loadCompiledResource);
    IconSet set;
    set.idle = makeGlyphImage({Glyph::Kind::idle, 0}, mode, size);
    set.waiting = makeGlyphImage({Glyph::Kind::waiting, 0}, mode, size);
    for (int i = 0; i < G::pulseFrameCount; ++i)
        set.running.push_back(
            makeGlyphImage({Glyph::Kind::running, static_cast<double>(i) / G::pulseFrameCount}, mode, size));
    set.frameInterval = IconFrameSchedule::defaultInterval;
    set.isTemplate = mode == StatusIconRenderingMode::monochrome;
    return set;
}

const StatusIconFactory::IconSet& StatusIconFactory::iconSet(StatusIconStyle style, StatusIconRenderingMode mode,
                                                             StatusIconSizeOption size) {
    static std::map<std::string, IconSet> cache;
    std::string key = cacheKey(style, mode, size);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(std::move(key), buildIconSet(style, mode, size)).first;
    return it->second;
}

const StatusIconFactory::IconSet& StatusIconFactory::trayIconSet(StatusIconStyle style, StatusIconRenderingMode mode,
                                                                 StatusIconSizeOption size) {
    static std::map<std::string, IconSet> cache;
    std::string key = cacheKey(style, mode, size);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;

    const IconSet& source = iconSet(style, mode, size);
    const G::Size canvas = G::trayCanvas(style);
    // One placed image per source image: an image that is both idle and a
    // running frame stays one image.
    std::map<const StatusIconImage*, StatusIconImageRef> placed;
    const auto onCanvas = [&](const StatusIconImageRef& image) {
        auto& made = placed[image.get()];
        if (!made) made = placedOnCanvas(image, QSize(canvas.width, canvas.height));
        return made;
    };
    IconSet set = source;
    set.idle = onCanvas(source.idle);
    set.waiting = onCanvas(source.waiting);
    for (auto& frame : set.running) frame = onCanvas(frame);
    return cache.emplace(std::move(key), std::move(set)).first->second;
}

} // namespace brindleaf
